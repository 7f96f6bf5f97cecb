#pragma once
// The serial ports present and the port-list text that carries them (format in ex_com.h).
#include <cstddef>
#include <string>
#include <vector>

namespace excom {

// The ports present, in the listing order of ex_com.h.
std::vector<std::string> availablePorts();

// The names joined by ";", leaving out whole names that would not fit in capacity bytes
// (terminator included).
std::string joinPortList(const std::vector<std::string> &names, std::size_t capacity);

// The non-empty names of a port-list text.
std::vector<std::string> splitPortList(const char *text);

} // namespace excom
