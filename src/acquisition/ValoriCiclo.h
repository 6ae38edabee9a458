#pragma once
// The values of a finished cycle, for the outputs after the XML (the
// history, the broker): one per read or constant line that ran, with the
// device it belongs to.

#include <cstddef>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/Esecuzione.h"
#include "export/EsportaXML.h"

namespace tarvel {

// An answer of the cycle and the index of its request line.
struct RispostaRiga {
    std::size_t indice = 0;
    Risposta risposta;
};

struct ValoreCiclo {
    enum class Tipo {
        Numero,    // a read that gave a value
        Testo,     // a constant
        Mancante,  // a read that failed or was not made
    };
    int dispositivo = 1;  // the groups between next-device lines, from 1
    std::string nome;
    Tipo tipo = Tipo::Mancante;
    std::string testo;       // the value text as the output has it
    std::size_t indice = 0;  // the request line
};

// The devices as the output files group them (DispositiviRisposte), with
// the settings that name the output files.
std::vector<ValoreCiclo> ValoriCiclo(const std::vector<Riga>& righe,
                                     const std::vector<RispostaRiga>& risposte,
                                     const LettoreIni& leggiIni);

// The device of each request line, as a cycle over the whole list would
// give it: for the topics and discovery configs that name the devices
// before any cycle ran.
std::vector<int> DispositiviRighe(const std::vector<Riga>& righe, const LettoreIni& leggiIni);

}  // namespace tarvel
