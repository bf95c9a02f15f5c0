// The bodies of the fuzz targets, shared by the libFuzzer programs (fuzz/)
// and by the regression test that replays every stored input. Each takes one
// input, runs it over the in-memory platform and checks what must hold for
// any input; a broken invariant goes to the violation handler (by default it
// prints and aborts, which libFuzzer reports as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plf::fuzz {

// A package file: opened, every entry looked up, dated, opened and read,
// two entries read interleaved; then installed in a whole run.
void FuzzPackage(const std::uint8_t* data, std::size_t size);
// An install script, run (verification and installation) from a package
// that holds it, once in each path notation and once more with one file
// operation failing.
void FuzzScript(const std::uint8_t* data, std::size_t size);
// The TimeStamp rule: first byte picks a locale, the rest is the value.
void FuzzTimeRule(const std::uint8_t* data, std::size_t size);
// MakeBackupName and the temporary name: target, newline, pattern.
void FuzzBackupName(const std::uint8_t* data, std::size_t size);

// Runs the target of that name ("package", "script", "time_rule",
// "backup_name"); false for an unknown name.
bool RunTarget(const std::string& name, const std::string& input);

using ViolationHandler = void (*)(const std::string& what);
// Puts a handler in force and returns the previous one.
ViolationHandler SetViolationHandler(ViolationHandler handler);

// Once per process, before the first input.
void Initialize();

// Letters from a seeded generator: distinct contents for the seed corpus.
std::string Noise(std::size_t size, std::uint32_t seed);

}  // namespace plf::fuzz
