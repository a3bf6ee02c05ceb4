#pragma once
// The one INI reader and writer: encoder definitions, project files and the
// settings file. An image of sections, each a list of stored lines in file order.
//
// Reading: each line is trimmed of spaces and control characters; empty lines and
// lines starting with ";" are dropped; "[name]" starts a section; other lines
// before the first section are dropped. A line with "=" is stored as
// name "=" value, split at its first "=" and both trimmed; a line without one is
// stored as it is. Section and key names match without regard to case, and the
// first section or key of a name is the one found.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace medlark {

class TIniText final {
public:
    static TIniText FromText(const QString& text);
    // Decoding chosen by the byte-order mark (UTF-8, UTF-16 LE or BE); without
    // one, UTF-8 when the bytes are valid UTF-8, else CP932.
    static TIniText FromBytes(const QByteArray& bytes);
    // Always UTF-16 little-endian, with or without its byte-order mark.
    static TIniText FromUtf16Le(const QByteArray& bytes);

    QStringList SectionNames() const;
    QStringList Lines(const QString& section) const;
    QString Value(const QString& section, const QString& key) const;

    static QString NameOf(const QString& line);
    static QString ValueOf(const QString& line);

    // A key already present keeps its place; a new key goes to the end of its
    // section, a new section to the end of the image.
    void SetValue(const QString& section, const QString& key, const QString& value);

    // "[name]" CR LF, one line per stored line, then an empty line, per section.
    QString ToText() const;
    // ToText() as UTF-16 LE after the byte-order mark FF FE.
    QByteArray ToUtf16Le() const;

private:
    struct Section {
        QString name;
        QStringList lines;
    };
    const Section* Find(const QString& name) const;
    Section& Add(const QString& name);

    std::vector<Section> sections_;
    QHash<QString, std::size_t> index_;   // case-folded name -> first section of that name
};

// Decodes text by the rules of FromBytes.
QString DecodeText(const QByteArray& bytes);

// Trims characters up to and including the space from both ends.
QString TrimControls(const QString& text);

} // namespace medlark
