// zkq870-sim as a separate process: started with pipes on its standard
// output and error, waited for with bounds, and never left running.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"

namespace simtest {

class SimProcess : public testsupport::CChildProcess {
public:
    // args follow the simulator's own path.
    explicit SimProcess(std::vector<std::string> args) : CChildProcess(WithSim(std::move(args))) {}

private:
    static std::vector<std::string> WithSim(std::vector<std::string> args) {
        args.insert(args.begin(), ZKQ870_SIM_PATH);
        return args;
    }
};

}  // namespace simtest
