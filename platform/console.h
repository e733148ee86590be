#ifndef CONSOLE_H
#define CONSOLE_H

// Windows starts the program without a console of its own: the command line's output
// goes to the console of the shell that started it, if there is one. Elsewhere the
// standard streams are there already. console_win.cpp and console_none.cpp.
void attachParentConsole();

#endif // CONSOLE_H
