#include "platform/qt/TrayStatusItem.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidgetAction>
#include <algorithm>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Timer.h"
#include "platform/qt/Images.h"

namespace tavo::platform {

namespace {

constexpr int kStatusLineTag = 1;
// Shown until the application sets an image of its own.
constexpr const char* kInitialImage = "QXRStatusBarItemIconlogout";

// '&' marks a keyboard mnemonic in an entry's text; names and mail
// addresses keep theirs.
QString entryText(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

long wholeSeconds(Clock::Duration duration) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

}  // namespace

TrayStatusItem::TrayStatusItem() : TrayStatusItem(Options{}) {}

TrayStatusItem::TrayStatusItem(Options options)
    : options_(std::move(options)),
      menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>()),
      self_(std::make_shared<TrayStatusItem*>(this)) {
    buildMenu();
    icon_->setIcon(imageNamed(kInitialImage));
    // No context menu of the tray's own: both buttons come here, so that
    // the delegate hears every click before anything pops up and a menu
    // with nothing to show never takes the keyboard.
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         // A click soon after another arrives as a double
                         // click: it opens the menu all the same.
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick ||
                             reason == QSystemTrayIcon::Context)
                             onTrayClicked();
                     });
    // The delegate may replace itself from inside a call: call a copy.
    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] {
        if (openingFromClick_)
            return;  // the click has told the delegate already
        menuOpen_ = true;
        if (auto call = delegate_.menuWillOpen)
            call();
    });
    QObject::connect(menu_.get(), &QMenu::aboutToHide, menu_.get(), [this] { tellClosed(); });
    showInTrayOrWait();
}

TrayStatusItem::~TrayStatusItem() {
    self_.reset();
    if (retryTimer_)
        retryTimer_->invalidate();
    icon_.reset();  // it refers to the menu
}

void TrayStatusItem::buildMenu() {
    // Entry 1 shows a label: a menu entry's own text keeps to one line.
    auto* statusEntry = new QWidgetAction(menu_.get());
    statusLine_ = new QLabel();
    statusLine_->setTextFormat(Qt::PlainText);  // account names are not markup
    statusLine_->setContentsMargins(12, 4, 12, 4);
    statusEntry->setDefaultWidget(statusLine_);
    statusEntry->setData(kStatusLineTag);
    menu_->addAction(statusEntry);
    menu_->addSeparator();
    addEntry(2, "Menu account");
    addEntry(3, "Menu font list");
    addEntry(4, "Menu synchronize fonts");
    addEntry(5, "Notice information");
    menu_->addSeparator();
    addEntry(9, "Menu update");
    addEntry(6, "Menu version");
    addEntry(7, "Menu help");
    menu_->addSeparator();
    addEntry(8, "Menu logout");
}

void TrayStatusItem::addEntry(int tag, const char* titleKey) {
    QAction* entry = menu_->addAction(entryText(localized(titleKey)));
    entry->setData(tag);
    QObject::connect(entry, &QAction::triggered, menu_.get(), [this, tag] {
        if (auto call = delegate_.itemActivated)
            call(tag);
    });
}

QAction* TrayStatusItem::action(int tag) const {
    const auto actions = menu_->actions();
    const auto found = std::find_if(actions.begin(), actions.end(), [tag](QAction* entry) {
        return !entry->isSeparator() && entry->data().isValid() && entry->data().toInt() == tag;
    });
    return found == actions.end() ? nullptr : *found;
}

std::string TrayStatusItem::itemTitle(int tag) const {
    if (tag == kStatusLineTag)
        return statusLine_->text().toStdString();
    QAction* entry = action(tag);
    return entry ? entry->text().replace(QStringLiteral("&&"), QStringLiteral("&")).toStdString()
                 : std::string();
}

void TrayStatusItem::setDelegate(Delegate delegate) {
    delegate_ = std::move(delegate);
}

void TrayStatusItem::setTitle(const std::string& title) {
    icon_->setToolTip(QString::fromStdString(title));
}

void TrayStatusItem::setImage(const std::string& imageName) {
    if (image_ == imageName)
        return;
    image_ = imageName;
    const QIcon icon = imageNamed(imageName);
    if (icon.isNull()) {
        WLog("Status item: no image named [%@]; the icon stays as it was", imageName);
        return;
    }
    icon_->setIcon(icon);
}

std::string TrayStatusItem::image() const {
    return image_;
}

void TrayStatusItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    for (QAction* entry : menu_->actions()) {
        if (entry->data().isValid() && entry->data().toInt() != kStatusLineTag)
            entry->setEnabled(enabled);
    }
}

void TrayStatusItem::setItemTitle(int tag, const std::string& title) {
    QAction* entry = action(tag);
    if (!entry)
        return;
    // The label first: the menu lays itself out again when the entry changes.
    if (tag == kStatusLineTag)
        statusLine_->setText(QString::fromStdString(title));
    // Menus the tray draws itself show the entry's text, not the label.
    entry->setText(entryText(title));
}

void TrayStatusItem::setItemHidden(int tag, bool hidden) {
    if (QAction* entry = action(tag))
        entry->setVisible(!hidden);
}

void TrayStatusItem::setItemEnabled(int tag, bool enabled) {
    if (QAction* entry = action(tag))
        entry->setEnabled(enabled && enabled_);
}

void TrayStatusItem::setItemImage(int tag, const std::string& imageName) {
    if (QAction* entry = action(tag))
        entry->setIcon(imageName.empty() ? QIcon() : imageNamed(imageName));
}

void TrayStatusItem::tellClosed() {
    if (!menuOpen_)
        return;
    menuOpen_ = false;
    if (auto call = delegate_.menuDidClose)
        call();
}

bool TrayStatusItem::hasVisibleEntry() const {
    const auto actions = menu_->actions();
    return std::any_of(actions.begin(), actions.end(),
                       [](QAction* entry) { return !entry->isSeparator() && entry->isVisible(); });
}

void TrayStatusItem::onTrayClicked() {
    if (!enabled_)
        return;
    // A menu believed open (a pop-up the desktop never drew, or one left
    // open) closes first: every click opens the menu afresh at the cursor.
    if (menu_->isVisible())
        menu_->hide();
    tellClosed();
    menuOpen_ = true;
    if (auto call = delegate_.menuWillOpen)
        call();
    // The delegate may have shown a window instead and hidden every entry:
    // then nothing pops up, and the window keeps the keyboard.
    if (!menuOpen_ || !enabled_ || !hasVisibleEntry()) {
        tellClosed();
        return;
    }
    openingFromClick_ = true;
    menu_->popup(QCursor::pos());
    openingFromClick_ = false;
    if (!menu_->isVisible())
        tellClosed();
}

bool TrayStatusItem::trayAvailable() const {
    return options_.trayAvailable ? options_.trayAvailable()
                                  : QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayStatusItem::showInTrayOrWait() {
    if (trayAvailable()) {
        showInTray();
        return;
    }
    ILog(
        "The desktop has no tray yet: the status item waits for it (a look every %ld s, for up "
        "to %ld s)",
        wholeSeconds(options_.retryInterval), wholeSeconds(options_.retryLimit));
    looks_ = 0;
    scheduleLook();
}

void TrayStatusItem::scheduleLook() {
    std::weak_ptr<TrayStatusItem*> weak = self_;
    retryTimer_ = Timer::scheduledTimer(options_.retryInterval, false, [weak] {
        if (auto self = weak.lock())
            (*self)->lookForTray();
    });
}

void TrayStatusItem::lookForTray() {
    ++looks_;
    if (trayAvailable()) {
        retryTimer_.reset();
        ILog("The desktop's tray is there now: showing the status item");
        showInTray();
        return;
    }
    const auto interval = options_.retryInterval;
    const long maxLooks = interval > Clock::Duration::zero()
                              ? std::max<long>(1, static_cast<long>(options_.retryLimit / interval))
                              : 1;
    if (looks_ >= maxLooks) {
        retryTimer_.reset();
        ELog(
            "No tray appeared within %ld s: TAVO runs without its tray icon; sign in with "
            "`tavoctl login`",
            wholeSeconds(options_.retryLimit));
        return;
    }
    scheduleLook();
}

void TrayStatusItem::showInTray() {
    inTray_ = true;
    icon_->show();
}

}  // namespace tavo::platform
