#pragma once
// medlark-render's command line: the project, the build's options (the
// settings file's values with the flags over them, made into options by the
// same mapping as the window's) and the answers given for the prompts.

#include "build/BuildOptions.h"
#include "build/BuildUser.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace medlark {

struct TRenderCommand final {
    bool ShowHelp = false;      // --help: print HelpText, build nothing
    bool ShowVersion = false;   // --version
    QString HelpText;
    QString ProjectPath;        // as given
    TBuildOptions Options;      // the output made absolute, the project protected
    std::optional<TSkipAnswer> OnProblem;           // --on-problem; none: ask
    std::optional<TOverwriteAnswer> OnOverwrite;    // --overwrite; none: ask
};

// Bad usage; its message follows "medlark-render: ".
struct TUsageError final {
    QString Message;
};

// Reads the arguments (the program first, as QCoreApplication gives them), the
// settings file they name (else the usual one) and the add-on folder's
// encoders. Raises TUsageError for bad usage, and the file-open error for a
// settings file or a cover that is not there. Needs the application object.
TRenderCommand ParseRenderCommand(const QStringList& arguments);

} // namespace medlark
