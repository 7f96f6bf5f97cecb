#include "port_list.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace excom {

namespace {

constexpr char kSeparator = ';';

bool listable(const std::string &name)
{
    return !name.empty() && name.find(kSeparator) == std::string::npos;
}

// "ttyS12" gives 12; -1 for other names.
int onBoardIndex(const std::string &kernelName)
{
    if (kernelName.size() < 5 || kernelName.compare(0, 4, "ttyS") != 0)
        return -1;
    int n = 0;
    for (std::size_t i = 4; i < kernelName.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(kernelName[i])))
            return -1;
        n = n * 10 + (kernelName[i] - '0');
    }
    return n;
}

// The 8250 driver registers every possible on-board port; only those whose UART type is
// known (not 0, "unknown") have hardware behind them.
bool hasUart(const fs::path &sysEntry)
{
    std::ifstream in(sysEntry / "type");
    int type = 0;
    return (in >> type) && type != 0;
}

// Text order in which runs of digits compare by their numeric value ("ttyUSB2" < "ttyUSB10").
bool naturalLess(const std::string &a, const std::string &b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The stable names under /dev/serial/by-id, by the device each stands for.
std::map<std::string, std::string> stableNames()
{
    std::map<std::string, std::string> byDevice;
    std::error_code ec;
    // The error-code increment ends the walk on a failing read instead of throwing through the
    // C interface.
    for (fs::directory_iterator dir("/dev/serial/by-id", ec), end; !ec && dir != end; dir.increment(ec)) {
        const fs::directory_entry &entry = *dir;
        std::error_code ec2;
        const fs::path target = fs::canonical(entry.path(), ec2);
        if (!ec2)
            byDevice.emplace(target.string(), entry.path().string());
    }
    return byDevice;
}

std::vector<std::string> extraPorts()
{
    std::vector<std::string> out;
    const char *env = std::getenv("EX_COM_EXTRA_PORTS");
    if (!env)
        return out;
    std::string all(env);
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find(':', start), all.size());
        std::string path = all.substr(start, end - start);
        std::error_code ec;
        if (listable(path) && fs::exists(path, ec) && std::find(out.begin(), out.end(), path) == out.end())
            out.push_back(path);
        start = end + 1;
    }
    return out;
}

} // namespace

std::vector<std::string> availablePorts()
{
    std::vector<std::string> ports = extraPorts();

    std::vector<int> onBoard;
    std::vector<std::string> others;
    const auto stable = stableNames();
    std::error_code ec;
    for (fs::directory_iterator dir("/sys/class/tty", ec), end; !ec && dir != end; dir.increment(ec)) {
        const fs::directory_entry &entry = *dir;
        const std::string name = entry.path().filename().string();
        std::error_code ec2;
        if (!fs::exists(entry.path() / "device", ec2))
            continue;   // virtual terminals, consoles, pseudo-terminals
        if (const int index = onBoardIndex(name); index >= 0) {
            if (hasUart(entry.path()))
                onBoard.push_back(index);
            continue;
        }
        const std::string devPath = "/dev/" + name;
        if (!fs::exists(devPath, ec2))
            continue;
        const auto it = stable.find(devPath);
        const std::string shown = it != stable.end() ? it->second : devPath;
        if (listable(shown))
            others.push_back(shown);
    }
    std::sort(onBoard.begin(), onBoard.end());
    std::sort(others.begin(), others.end(), naturalLess);
    for (const int index : onBoard)
        ports.push_back("COM" + std::to_string(index + 1));
    for (auto &name : others)
        if (std::find(ports.begin(), ports.end(), name) == ports.end())
            ports.push_back(std::move(name));
    return ports;
}

std::string joinPortList(const std::vector<std::string> &names, std::size_t capacity)
{
    std::string text;
    for (const auto &name : names) {
        const std::size_t needed = text.size() + (text.empty() ? 0 : 1) + name.size() + 1;
        if (!listable(name) || needed > capacity)
            continue;
        if (!text.empty())
            text += kSeparator;
        text += name;
    }
    return text;
}

std::vector<std::string> splitPortList(const char *text)
{
    std::vector<std::string> names;
    std::string current;
    for (const char *p = text; *p; ++p) {
        if (*p == kSeparator) {
            if (!current.empty())
                names.push_back(std::move(current));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty())
        names.push_back(std::move(current));
    return names;
}

} // namespace excom
