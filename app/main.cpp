#include "GameApplication.h"

int main(int argc, char* argv[]) {
    return runGame(argc, argv);
}
