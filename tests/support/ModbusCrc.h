#pragma once

#include <vector>

// The frame with its MODBUS RTU check sum appended (low byte first), as a device sends it.
std::vector<unsigned char> withModbusCrc(std::vector<unsigned char> frame);
