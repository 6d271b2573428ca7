#pragma once

#include <functional>

class Form1;

// Runs the game as a program: checks for a display, starts Qt, builds Form1, raises Load,
// shows the window and runs the message loop. Returns the program's exit status.
// `prepare` may adjust the game before Load (tests use it to plant a fault).
int runGame(int argc, char* argv[], const std::function<void(Form1&)>& prepare = {});
