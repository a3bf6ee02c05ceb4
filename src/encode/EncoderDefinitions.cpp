#include "encode/EncoderDefinitions.h"

#include "model/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace medlark {

using namespace Qt::StringLiterals;

TEncoderDefinitions::TEncoderDefinitions(const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        ini_ = TIniText::FromBytes(file.readAll());
}

QStringList TEncoderDefinitions::GetEncoders(const QString& section) const
{
    return ini_.Lines(section);
}

QString TEncoderDefinitions::GetEncoderExe(int index) const
{
    const QStringList lines = ini_.Lines(u"ENCODERS"_s);
    if (index < 0 || index >= lines.size())
        throw Error(u"リストのインデックスが範囲を超えています (%1)"_s.arg(index));
    return TIniText::NameOf(lines[index]);
}

QString TEncoderDefinitions::GetEncoderExtension(const QString& exe) const
{
    return ini_.Value(u"EXTENSION"_s, exe);
}

QString TEncoderDefinitions::GetParam(const QString& encoder, const QString& quality) const
{
    return ini_.Value(u"PARAMETER-"_s + quality, encoder);
}

bool IsPlainEncoderName(const QString& exe)
{
    return !exe.isEmpty() && !exe.contains(u'/') && !exe.contains(u'\\') && !exe.contains(u".."_s);
}

std::vector<TCompressionItem> CompressionMenuItems(const QString& addonDir)
{
    const TEncoderDefinitions definitions(addonDir + QString::fromLatin1(kEncoderDefinitionFile));
    const QStringList lines = definitions.GetEncoders(u"ENCODERS"_s);
    std::vector<TCompressionItem> items;
    for (int i = 0; i < lines.size(); ++i) {
        const QString exe = TIniText::NameOf(lines[i]);
        if (IsPlainEncoderName(exe) && QFileInfo(addonDir + exe).isFile())
            items.push_back({TIniText::ValueOf(lines[i]), i, exe});
    }
    return items;
}

int FindCompressionItem(const QString& addonDir, const QString& text)
{
    const std::vector<TCompressionItem> items = CompressionMenuItems(addonDir);
    for (const TCompressionItem& item : items)
        if (item.Caption == text)
            return item.Tag;
    for (const TCompressionItem& item : items)
        if (item.Executable == text)
            return item.Tag;
    return -1;
}

QString QualityCode(int qualityTag)
{
    switch (qualityTag) {
    case 1: return u"LO"_s;
    case 10: return u"HI"_s;
    default: return u"MD"_s;
    }
}

QString ShippedFolder(const QString& name)
{
    const QStringList candidates{
        QDir::current().filePath(name),
        QDir(QCoreApplication::applicationDirPath()).filePath(name),
        QDir(QCoreApplication::applicationDirPath()).filePath(u"../share/medlark/"_s + name),
        QStringLiteral(MEDLARK_DATA_DIR "/") + name,
    };
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate) + u'/';
    return u"./"_s + name + u'/';
}

QString AddonFolder()
{
    return ShippedFolder(u"addon"_s);
}

QString TemplateFolder()
{
    return ShippedFolder(u"template"_s);
}

} // namespace medlark
