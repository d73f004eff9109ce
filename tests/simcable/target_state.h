// The target state file the simulated cable leaves beside its log.
#pragma once

#include <map>
#include <string>

namespace sim {

// "device N key value key value ..." lines of target_state.txt, by device index.
std::map<int, std::map<std::string, std::string>> read_state(const std::string &path);

} // namespace sim
