// drovak: hides a COM port from the device enumeration, or shows it again.
#include <iostream>

#include "netcontroller/param_table.h"
#include "platform/registry.h"
#include "port_tool/drovak_command.h"

int main(int argc, char** argv) {
  try {
    const ecr::ParamTable params(argc, argv);
    ecr::RunDrovak(argc - 1, params, ecr::Registry(), std::cout);
  } catch (...) {
    // The tool reports no registry errors and always ends with 0.
  }
  return 0;
}
