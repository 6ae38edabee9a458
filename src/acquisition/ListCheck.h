#pragma once
// Problems a request line has that can be found without the serial line.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/Chiamata.h"

namespace tarvel {

// True when the text can stand as an XML element name.
bool NomeElementoValido(std::string_view nome);

// The problems of one request line as cut, one text each (empty: none
// found); the load of the list keeps them with the line (RequestLine::problemi).
std::vector<std::string> ProblemiRiga(const RequestLine& riga);

struct ListProblem {
    std::size_t riga;  // index in the list
    std::string testo;
};

// The problems between lines: two values of one device (`dispositivi`: the
// device of each line, DispositiviRighe) with the same description, whose
// second element hides the first for most readers of the output.
std::vector<ListProblem> ProblemiElenco(const std::vector<RequestLine>& righe,
                                           const std::vector<int>& dispositivi);

}  // namespace tarvel
