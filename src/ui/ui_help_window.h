// The program's own help window: shows the help documents (local HTML with their links
// and images) in a QTextBrowser with Back, Forward and Home, so help works on a machine
// without a desktop browser. Links to outside addresses (http, https, mailto) still go
// to the desktop.
#pragma once

#include <QUrl>
#include <QWidget>

class QTextBrowser;
class QToolButton;

class ui_help_window_t : public QWidget {
    Q_OBJECT
public:
    explicit ui_help_window_t(QWidget* parent = nullptr);

    // The help window of `owner` (created on first use as its child window, so it also
    // works above a modal owner), showing `document` (one of ui_help_document_*).
    // A missing document is said in a "Warning" box naming the path; then null.
    static ui_help_window_t* open(QWidget* owner, const char* document);

    // Loads a local document into the window; false (and nothing changes) when the file
    // is missing.
    // Sized and placed inside the available area of the owner's screen (820 x 640 at most).
    void fit_into_screen();
    bool show_url(const QUrl& url);

    QTextBrowser* browser() const { return m_browser; }

private:
    void _follow_link(const QUrl& link);
    void _update_title();

    QTextBrowser* m_browser = nullptr;
    QToolButton* m_back = nullptr;
    QToolButton* m_forward = nullptr;
    QToolButton* m_home = nullptr;
};
