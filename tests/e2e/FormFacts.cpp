// Writes what the real-window tests know of Form1 into the file it is given, as JSON, from the
// very definition the game is built from: the window's title and its client area in pixels at
// 96 dpi, converted as the runtime converts it.
#include <Form1Definition.h>
#include <runtime/Twips.h>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.json\n", argv[0]);
        return 2;
    }
    const runtime::FormDefinition& form = form::form1Definition();
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "{\"WINDOW_TITLE\": \"%s\", \"CLIENT_WIDTH\": %d, \"CLIENT_HEIGHT\": %d}\n",
                 form.caption, runtime::toPixels(form.clientWidth),
                 runtime::toPixels(form.clientHeight));
    return std::fclose(out) == 0 ? 0 : 1;
}
