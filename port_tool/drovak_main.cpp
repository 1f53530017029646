// drovak: hides a COM port from the device enumeration, or shows it again.
#include <signal.h>

#include <iostream>

#include "netcontroller/param_table.h"
#include "platform/registry.h"
#include "port_tool/drovak_command.h"

int main(int argc, char** argv) {
  // A reader that has gone away must not end the tool by a signal: the exit code stays 0.
  ::signal(SIGPIPE, SIG_IGN);
  try {
    const ecr::ParamTable params(argc, argv);
    ecr::RunDrovak(argc - 1, params, ecr::Registry(), std::cout);
  } catch (...) {
    // The tool reports no registry errors and always ends with 0.
  }
  return 0;
}
