// The subcommands of boardsim. Each takes its own argument vector, argv[0] being the
// subcommand's name, and returns the process exit status.
#pragma once

int RunBootCommand(int argc, char **argv);
int RunRunCommand(int argc, char **argv);
int RunVarsCommand(int argc, char **argv);
int RunSetupCommand(int argc, char **argv);
int RunEepromCommand(int argc, char **argv);
