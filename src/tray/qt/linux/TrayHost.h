// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace kelvra {

/// Whether a StatusNotifierItem panel is there: a watcher on the session bus with a host.
bool statusNotifierHostPresent();

/// Whether an XEmbed tray manager owns the tray selection of our screen (X11 only).
bool xembedTrayPresent();

/// Tells when an XEmbed tray manager takes the tray selection of our screen, at any time of
/// the run: the MANAGER message it sends to the root window (X11 only; silent elsewhere).
class XEmbedTrayWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit XEmbedTrayWatch(QObject* parent = nullptr);
    ~XEmbedTrayWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void managerAppeared();

private:
    quint32 managerAtom_ = 0;
    quint32 selectionAtom_ = 0;
};

}  // namespace kelvra
