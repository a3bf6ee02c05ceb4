#pragma once
// The HTML sound sheet: a page assembled from the template folder's header,
// one block per sound file (mixed.html once for a medley, single.html per track)
// and footer, saved as UTF-8 with CR LF into the publish folder, with the page's
// assets copied beside it.
//
// Block placeholders, replaced in this order: <!--IDENT--> (snd01, snd02 …),
// <!--FILE--> (the sound file relative to the publish folder), <!--TITLE-->,
// then <!--NAME--> for every one of vars. Every inserted value is
// HTML-escaped, so no file name can bring markup or script into the page.

#include "model/BuildMode.h"
#include "model/Variables.h"

#include <QString>
#include <QStringList>

namespace medlark {

class THTMLBuilder final {
public:
    // Loads baseDir + "header.html"; a header that cannot be read raises the
    // file-open error.
    THTMLBuilder(const QString& baseDir, const QString& buildDir, TCrossFadeMode mode);

    void Write(const QString& title, const QString& soundFileName, const TVariables& vars);
    // Appends the footer, saves the page as BuildDirectory() + htmlFileName and
    // copies the assets that are not there yet.
    void Publish(const QString& htmlFileName);

    const QString& BuildDirectory() const { return FBuildDir; }
    const QStringList& Items() const { return FHTML; }

    static const QStringList& AssetNames();

private:
    QString FBaseDir;
    QString FBuildDir;
    QStringList FHTML;
    TCrossFadeMode FRunMode;
    int Fc = 1;
};

// &, <, >, " and ' as character references.
QString HtmlEscape(const QString& text);

} // namespace medlark
