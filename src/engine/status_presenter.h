#pragma once

#include "engine/transfer.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace lumen
{

class DownloadList;
struct DownloadItem;
class SoundPlayer;

// What the user is told of the engine's work: the action panel ("正在下载:" /
// "完成下载:" with the record's name), the connection panel of the single
// connection, the counters panel, and the notice sounds (only while sound is
// on). It turns the engine's events into those texts and sound numbers and
// decides nothing else.
class StatusPresenter : public QObject
{
    Q_OBJECT
public:
    // The notice sounds, by the number of their file (101.wav ...).
    enum Sound { PageSound = 101, RunEndSound = 102, FailedSound = 103 };

    StatusPresenter(const DownloadList &list, SoundPlayer &sound, QObject *parent = nullptr);

    QString actionText() const { return m_actionText; }         // panel 2
    QString connectionText() const { return m_connectionText; } // panel 3
    QString countersText() const { return m_countersText; }     // the states
    // Panel 4 as the window shows it: the counters by state, and on a line
    // of its own how the ended records ended, counted apart (documents, web
    // pages, skips, failures, cancels); and the same at length for its
    // tooltip.
    QString countsPanelText() const { return m_countsPanelText; }
    QString countsPanelToolTip() const { return m_countsPanelToolTip; }

    // The counters text for the list as it is now.
    static QString countersTextFor(const DownloadList &list);
    // "文献:4 网页:1 跳过:2 出错:1 取消:0": skips are both kinds, failures
    // include the files that could not be replaced.
    static QString outcomesTextFor(const DownloadList &list);
    static QString countsPanelTextFor(const DownloadList &list);
    static QString countsPanelToolTipFor(const DownloadList &list);
    // The connection panel's text for a state of the single connection.
    static QString connectionStateText(ConnectionState state, int responseCode = 0,
                                       const QString &responseInfo = QString());

    // "声音提示"
    bool soundOn() const { return m_soundOn; }
    void setSoundOn(bool on) { m_soundOn = on; }
    // Folders searched in order for "<n>.wav".
    void setSoundFolders(const QStringList &folders) { m_soundFolders = folders; }
    QStringList soundFolders() const { return m_soundFolders; }
    // PlayNoticeSound: plays "<n>.wav" from the first folder that holds it;
    // a missing file plays nothing and says nothing. Plays whether sound is
    // on or not: the events below ask only while it is.
    void playNoticeSound(int number);

    // A single-connection download of the record begins.
    void transferStarting(const DownloadItem &item);
    // A download of the record ended. An announced end shows "完成下载:" and,
    // with sound on, plays 101 for a web page and then 103 for a failure; a
    // quiet end shows and plays nothing.
    void transferEnded(const DownloadItem &item, TransferNotice notice);
    void showConnectionState(ConnectionState state, int responseCode, const QString &responseInfo);
    // A run ended because the list is finished or the error stop fired.
    void runEnded();
    // Recounts the list (UpdateStatusCounts).
    void refreshCounters();

signals:
    void actionTextChanged(const QString &text);
    void connectionTextChanged(const QString &text);
    void countersTextChanged(const QString &text);
    void countsPanelTextChanged(const QString &text, const QString &toolTip);

private:
    void setActionText(const QString &text);

    const DownloadList &m_list;
    SoundPlayer &m_sound;
    bool m_soundOn = false;
    QStringList m_soundFolders;
    QString m_actionText;
    QString m_connectionText;
    QString m_countersText;
    QString m_countsPanelText;
    QString m_countsPanelToolTip;
};

} // namespace lumen
