#include "build/BuildOptions.h"

#include "encode/EncoderDefinitions.h"
#include "model/Settings.h"

namespace medlark {

TBuildOptions BuildOptionsFrom(const TSettings& settings, const QString& addonDir)
{
    TBuildOptions o;
    o.Mode = settings.SingleMode() ? cfmSingle : cfmMixed;
    o.Medley = settings.Medley;
    o.WriteBookmark = settings.WriteDetailText;
    o.WriteJson = settings.WriteJsonFile;
    o.WriteHtml = settings.ExportHTMLs;
    o.AddonDir = addonDir;
    // "なし", or no entry chosen at all, makes no copy.
    o.EncoderTag = settings.Compression.isEmpty() || settings.Compression == QString::fromUtf16(kCompressionNone)
                       ? -1
                       : FindCompressionItem(addonDir, settings.Compression);
    o.Quality = QualityCode(settings.CompressionLevel);
    o.ExportVideo = settings.ExportVideo;
    o.CoverImage = settings.CoverImage;
    return o;
}

bool DrawsVideoPictures(const TBuildOptions& options)
{
    return options.Mode == cfmMixed && options.ExportVideo;
}

} // namespace medlark
