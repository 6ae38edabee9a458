#pragma once
// Problems a request line has that can be found without the serial line.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/Chiamata.h"

namespace tarvel {

// True when the text can stand as an XML element name.
bool IsValidElementName(std::string_view name);

// True when a unit can go as it is into the JSON of the discovery configs
// (escaped there), the history, the CSV header and the records of the
// check: no control character and no ";".
bool IsSafeUnit(std::string_view unit);

// The problems of one request line as cut, one text each (empty: none
// found); the load of the list keeps them with the line (RequestLine::problems).
std::vector<std::string> LineProblems(const RequestLine& line);

struct ListProblem {
    std::size_t line;  // index in the list
    std::string text;
};

// The problems between lines: two values of one device (`devices`: the
// device of each line, DevicesOfLines) with the same description, whose
// second element hides the first for most readers of the output.
std::vector<ListProblem> ListProblems(const std::vector<RequestLine>& lines,
                                           const std::vector<int>& devices);

}  // namespace tarvel
