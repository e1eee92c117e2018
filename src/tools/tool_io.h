// File and console helpers of the analyst tool (UTF-8 paths and output on
// every platform).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& utf8Path);

// Script text of a file: UTF-16LE after a byte-order mark FF FE, else UTF-8
// (a UTF-8 byte-order mark is dropped).
std::u16string DecodeScriptFile(const std::vector<uint8_t>& bytes);

void WriteOut(std::string_view utf8);
void WriteErr(std::string_view utf8);
