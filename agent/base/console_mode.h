// Whether this run talks to the user: true when the agent was started without arguments.
// Set once by the run sequence before the first message; read wherever output or test pages
// depend on it.
#pragma once

extern bool ConsoleMode;
