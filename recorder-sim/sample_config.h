#pragma once

#include <string>

// Writes a sample recorder configuration into dir (created when missing): mornak.ini with
// SYSTEMNUMBER systemNumber, three channels at 100 samples per second (CHANFILE1..3 naming
// bhz.chn, bhn.chn and bhe.chn) and the disabled volume ALL grouping them, plus the three
// channel files. Returns false with error set when a file cannot be written.
bool writeSampleConfig(const std::string& dir, int systemNumber, std::string& error);
