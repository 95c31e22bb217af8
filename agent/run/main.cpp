// UpgradeAgent: asks the version server for a newer build and unpacks its package.
int ProgramMain(int, wchar_t**) { return 1; }
