// What the fuzz targets share: one Qt application for the whole run (the
// socket event source and Qt's image readers want one), scratch files for
// the loaders that only take file names, and the check that stops a run when
// a property of the code under test does not hold.  Single-threaded, like
// the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Makes the application object once; later calls do nothing.
void StartApplication();

// A folder of its own under /dev/shm (or /tmp), made on first use and
// removed when the process ends.
const std::string& ScratchFolder();
// Writes data to ScratchFolder()/name and returns the path.
std::string WriteScratchFile(const std::string& name, const uint8_t* data, std::size_t size);

// Stops the run with the text when a property fails, so that libFuzzer keeps
// the input (an ordinary failure of the code under test is an Exception and
// is no finding).
void Require(bool condition, const char* what);
