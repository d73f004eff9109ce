#include "target_state.h"

#include <sstream>

#include "support/files.h"

namespace sim {

std::map<int, std::map<std::string, std::string>> read_state(const std::string &path)
{
    std::map<int, std::map<std::string, std::string>> state;
    std::istringstream lines(testsupport::read_file(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        int index = -1;
        if (!(words >> word) || word != "device" || !(words >> index))
            continue;
        std::string key, value;
        while (words >> key >> value)
            state[index][key] = value;
    }
    return state;
}

} // namespace sim
