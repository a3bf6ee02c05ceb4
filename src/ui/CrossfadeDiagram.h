#pragma once
// The live crossfade diagram beside the build settings.

#include "model/MedleySettings.h"

#include <QString>
#include <QWidget>

namespace medlark {

// Two segments overlapping by the crossfade, each with the envelope's real
// curves, the blanks before and after, and the times written on them.
class TCrossfadeDiagram final : public QWidget {
    Q_OBJECT
public:
    explicit TCrossfadeDiagram(QWidget* parent);
    void SetValues(const TMedleySettings& medley);
    // While a join is heard: the two tracks' titles and the playhead, in
    // seconds from where the crossfade begins. Empty titles: the plain diagram.
    void SetJoin(const QString& before, const QString& after);
    void SetPlayhead(double secondsFromJoin);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString before_;
    QString after_;
    double playhead_ = 0;
    TMedleySettings medley_;
};

} // namespace medlark
