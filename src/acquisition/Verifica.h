#pragma once
// Problems a request line has that can be found without the serial line.

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// True when the text can stand as an XML element name.
bool NomeElementoValido(std::string_view nome);

// The problems of one request line, one text each (empty: none found).
std::vector<std::string> ProblemiRiga(std::string_view riga);

}  // namespace tarvel
