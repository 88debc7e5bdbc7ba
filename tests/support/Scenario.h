// Case files: JSON tables of calls, each case run in a fresh temporary
// folder with the scripted Ui installed. A file holds {"defs": {NAME: text,
// list of texts or list of calls}, "cases": [CASE...]}; a case {"name",
// "questions": [answers], "inputs": [text or null], "run": [CALL...]}.
// A call is a list of texts: a step's name, its arguments, then optionally
// "=" and the results it must give, each equal or with "*" matching any
// run of characters; a lone "..." matches any number of results, and
// "@lines FILE" the lines of FILE (expanded, byte for byte).
// Texts expand ${DIR} (the case's folder), ${CASES} (the case file's
// folder), ${BUILT} (the built program folder) and ${NAME} of a text def;
// a part "${NAME}" of a list def stands for its texts. Every code point
// below 256 is one byte, so "\u00e9" is the byte 0xE9.
// Built-in steps (relative paths are in the case's folder): dir P | file P
// TEXT | fill P COUNT CHAR [TAIL] | chmod P OCTAL | link TARGET P | fifo P
// | copy FROM TO | db P SQL | dbscript P SCRIPT | lock P BYTE (a read lock
// on one byte) | flock P (a folder lock) | program P (the program folder)
// | defaultpath P | use DEF (the def's calls) | run PROGRAM ARGS... ("exit
// N", the output's lines, "stderr LINE" for each error line) | rows DB SQL | read P
// ("(none)" when absent) | list P (names, "/" after a folder, "@" after a
// link) | mode P | events (the Ui's record since the last one: "box
// TITLE|STYLE|TEXT", "input TITLE|PROMPT", "status TEXT", "busy", "idle").
// Locks are held until the case ends. A step that throws gives "error N:
// DESCRIPTION" for a run-time error, "exception: WHAT" for any other.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedUi.h"
#include "TestSupport.h"

namespace Scenario {

using Results = std::vector<std::string>;

struct Context {
  TestSupport::TempDir dir;
  Platform::ScriptedUi ui;
  // `path` if absolute, else within the case's folder.
  std::string Path(const std::string& path) const;
};

// A layer's own steps, by name; each gets the call's arguments.
using Steps = std::map<std::string, std::function<Results(Context&, const std::vector<std::string>&)>>;

inline Results Bool(bool value) { return {value ? "true" : "false"}; }

// A step that calls `f` with the call's first N arguments and gives its
// true or false.
template <std::size_t N, class F>
auto BoolStep(F f) {
  return [f](Context&, const std::vector<std::string>& a) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) { return Bool(f(a.at(I)...)); }(std::make_index_sequence<N>());
  };
}

// Runs every case of the case file `path`; a failing call names its case,
// its place and what it gave.
void RunFile(const std::string& path, const Steps& steps);

}  // namespace Scenario
