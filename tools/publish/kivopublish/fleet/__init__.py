"""The fleet as the server's statistics log shows it: stats (the counts, as text or JSON) and
report (the same counts as one HTML page for a person). They read the log only, and a tree's
release events when asked; nothing here writes a server tree."""
