#pragma once
// Every sub-command of qarn. A new sub-command is a new file, a maker below and a line in
// makeCommands().

#include <memory>
#include <vector>

#include "Command.h"

namespace qarn {

std::unique_ptr<Command> makeConsoleCommand();
std::unique_ptr<Command> makeDemoCommand();
std::unique_ptr<Command> makeDoctorCommand();
std::unique_ptr<Command> makeGatewayCommand();
std::unique_ptr<Command> makeGuessCommand();
std::unique_ptr<Command> makeInfoCommand();
std::unique_ptr<Command> makePollCommand();
std::unique_ptr<Command> makeReadCommand();
std::unique_ptr<Command> makeScanCommand();
std::unique_ptr<Command> makeServeCommand();
std::unique_ptr<Command> makeSimulateCommand();
std::unique_ptr<Command> makeTypesCommand();
std::unique_ptr<Command> makeWriteCommand();
std::unique_ptr<Command> makeXmlCommand();

// The commands in the order `qarn --help` lists them.
std::vector<std::unique_ptr<Command>> makeCommands();

}  // namespace qarn
