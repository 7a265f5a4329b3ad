#include "ui/ui_help_window.h"

#include <QDesktopServices>
#include <algorithm>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/ui_help.h"

namespace {

bool is_outside_address(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

}  // namespace

ui_help_window_t::ui_help_window_t(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("help_window");
    setWindowTitle("Velkaro Help");
    resize(820, 640);

    m_back = new QToolButton(this);
    m_back->setObjectName("help_back_btn");
    m_back->setText("Back");
    m_back->setEnabled(false);
    m_forward = new QToolButton(this);
    m_forward->setObjectName("help_forward_btn");
    m_forward->setText("Forward");
    m_forward->setEnabled(false);
    m_home = new QToolButton(this);
    m_home->setObjectName("help_home_btn");
    m_home->setText("Home");

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName("help_browser");
    // Links are followed here: local ones in this window, outside ones on the desktop.
    m_browser->setOpenLinks(false);
    m_browser->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(5, 5, 5, 0);
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_home);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);

    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_home, &QToolButton::clicked, m_browser, &QTextBrowser::home);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &ui_help_window_t::_follow_link);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &ui_help_window_t::_update_title);

    // Esc closes, as in any help viewer.
    auto* close_key = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    close_key->setContext(Qt::WindowShortcut);
    connect(close_key, &QShortcut::activated, this, &QWidget::close);
}

void ui_help_window_t::fit_into_screen() {
    QScreen* screen = parentWidget() != nullptr && parentWidget()->window()->screen() != nullptr
                          ? parentWidget()->window()->screen()
                          : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect room = screen->availableGeometry();
    // At most nine tenths of the screen each way, so the frame and title bar fit too.
    const QSize size(std::min(820, room.width() * 9 / 10), std::min(640, room.height() * 9 / 10));
    resize(size);
    move(room.center() - QPoint(size.width() / 2, size.height() / 2));
}

ui_help_window_t* ui_help_window_t::open(QWidget* owner, const char* document) {
    const QUrl url = ui_help_url(document);
    if (!QFileInfo::exists(url.toLocalFile())) {
        QMessageBox::warning(owner, "Warning",
                             QString("The help document was not found:\n%1").arg(url.toLocalFile()),
                             QMessageBox::Ok);
        return nullptr;
    }
    auto* window = owner != nullptr
                       ? owner->findChild<ui_help_window_t*>(QString(), Qt::FindDirectChildrenOnly)
                       : nullptr;
    if (window == nullptr) {
        window = new ui_help_window_t(owner);
        if (owner == nullptr) window->setAttribute(Qt::WA_DeleteOnClose);
        window->fit_into_screen();
    }
    window->show_url(url);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

bool ui_help_window_t::show_url(const QUrl& url) {
    if (!url.isLocalFile() || !QFileInfo::exists(url.toLocalFile())) return false;
    m_browser->setSource(url);
    return true;
}

void ui_help_window_t::_follow_link(const QUrl& link) {
    const QUrl target = m_browser->source().resolved(link);
    if (is_outside_address(target)) {
        QDesktopServices::openUrl(target);
        return;
    }
    if (target.isLocalFile() && !QFileInfo::exists(target.toLocalFile())) {
        QMessageBox::warning(this, "Warning",
                             QString("The help document was not found:\n%1").arg(target.toLocalFile()),
                             QMessageBox::Ok);
        return;
    }
    m_browser->setSource(target);
}

void ui_help_window_t::_update_title() {
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? QString("Velkaro Help") : title);
}
