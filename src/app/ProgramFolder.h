#pragma once
// Where the settings file lives. A copy whose executable has a Tarvel.INI
// beside it is portable: the executable's folder is the program folder, as
// in every build tree. An installed copy keeps its settings per user, in
// the "tarvel" folder of the user's settings home; at the first start
// there, the folder is made and the installed example is copied into it,
// and the program tells the user to set the port before anything else.

#include <string>

#include "platform/DesktopShell.h"
#include "platform/Dialogs.h"
#include "platform/TextFiles.h"
#include "platform/UserFolders.h"

namespace tarvel {

struct ProgramFolder {
    enum class Result {
        Found,  // the program folder, with or without its file
        Created,   // the example was copied in at this start
        Error,   // no usable folder: see error
    };
    Result result = Result::Found;
    std::string folder;  // the program folder (for an error, where it would be)
    std::string error;    // the system's words, for an error
    std::string iniPath() const;
};

// The program folder for an executable in exeFolder; example is
// the installed example settings file. With createIfMissing false nothing is made:
// the folder is only named.
ProgramFolder FindProgramFolder(TextFiles& files, UserFolders& folders,
                                         const std::string& exeFolder,
                                         const std::string& example, bool createIfMissing);

// Shows the message of a first start or of a failure; at a first start,
// also opens the new file in the editor when a shell is given. True when
// the program goes on with its start-up (the folder was there).
bool AnnounceFolder(const ProgramFolder& folder, Dialogs& dialogs, DesktopShell* shell);

}  // namespace tarvel
