#include "Commands.h"

namespace qarn {

std::vector<std::unique_ptr<Command>> makeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(makeConsoleCommand());
    commands.push_back(makeDemoCommand());
    commands.push_back(makeDoctorCommand());
    commands.push_back(makeGatewayCommand());
    commands.push_back(makeGuessCommand());
    commands.push_back(makeInfoCommand());
    commands.push_back(makePollCommand());
    commands.push_back(makeReadCommand());
    commands.push_back(makeScanCommand());
    commands.push_back(makeServeCommand());
    commands.push_back(makeSimulateCommand());
    commands.push_back(makeTypesCommand());
    commands.push_back(makeWriteCommand());
    commands.push_back(makeXmlCommand());
    return commands;
}

}  // namespace qarn
