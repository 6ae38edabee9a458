#pragma once
// Qt's own texts in Italian, as the rest of the program: the standard buttons
// of the message and input boxes ("Sì", "Annulla") and "Mostra detailText...",
// whatever the user's locale.

namespace tarvel {

// Installs Qt's Italian translation on the running application. False when
// the translation is not installed: the boxes then show Qt's English texts.
bool LoadQtTranslation();

}  // namespace tarvel
