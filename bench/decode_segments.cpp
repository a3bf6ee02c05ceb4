// Decodes every segment of a project and throws the PCM away: the floor under
// the time of a build, which cannot be faster than its decoding.
//   decode_segments PROJECT.mlkd

#include "model/ProjectFile.h"
#include "model/TrackList.h"
#include "render/SourceStream.h"

#include <QCoreApplication>

#include <cstdio>

using namespace medlark;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: decode_segments PROJECT.mlkd\n");
        return 2;
    }
    TrackList list;
    LoadProject(list, QString::fromLocal8Bit(argv[1]));
    PcmBlock segment;
    long long frames = 0;
    for (int i = 0; i < list.Count(); ++i) {
        SourceStream source = OpenSourceStream(list.At(i).SourcePath);
        segment.clear();
        DecodeSegment(source, segment, list.At(i).Times.StartTime, list.At(i).Times.EndTime);
        frames += FrameCount(segment);
    }
    std::printf("%d segments, %lld frames\n", list.Count(), frames);
    return 0;
}
