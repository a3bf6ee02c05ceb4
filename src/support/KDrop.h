#pragma once
// TKAddDrop lets one widget accept files dropped from the file manager and hands
// the ordered list of dropped paths (files and folders alike, whole) to its
// owner's handler, once per drop.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>


namespace medlark {

class TKAddDrop final : public QObject {
    Q_OBJECT
public:
    using TKDropEvent = std::function<void(TKAddDrop* sender, QWidget* target, const QStringList& dropFiles)>;

    explicit TKAddDrop(QObject* owner = nullptr);
    ~TKAddDrop() override;

    QWidget* Control() const { return FControl; }
    void SetControl(QWidget* control);
    bool Active() const { return FActive; }
    void SetActive(bool active);
    const QStringList& LastDropFiles() const { return FLastDropFiles; }

    TKDropEvent OnDropFiles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* DropSurface() const;
    void Attach(bool attach);

    QPointer<QWidget> FControl;
    bool FActive = true;
    QStringList FLastDropFiles;
};

} // namespace medlark
