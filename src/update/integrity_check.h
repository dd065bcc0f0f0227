// Handler of message 1003: verify listed files by digest and fetch the wrong ones again.
#pragma once

#include <string_view>

void runIntegrityCheck(std::string_view message);
