#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "platform/qt/widgets/BaseViewController.h"

class QVBoxLayout;

namespace tavo::widgets {

class KeyEventView;

// One top-level window whose content page is replaced in place, as the
// pages of a storyboard follow each other. Pages are made on demand by the
// factories registered under their identifiers; the window owns them.
// Ctrl+W and Esc close it; while pages change it keeps its top edge.
// Closing or destroying the window lets its page
// disappear. Main thread only.
class FlowWindow : public QWidget {
    Q_OBJECT

public:
    using PageFactory = std::function<BaseViewController*()>;

    explicit FlowWindow(QWidget* parent = nullptr);
    ~FlowWindow() override;

    void registerPage(const std::string& identifier, PageFactory factory);
    // A new page made by the factory of identifier, or null when none is
    // registered (or the factory made none).
    BaseViewController* instantiatePage(const std::string& identifier);

    // Shows the page of identifier as the window's content; false when no
    // page is registered under it.
    bool showPage(const std::string& identifier);

    BaseViewController* contentViewController() const { return content_; }
    // Puts page in the window (it loads), then lets the previous page
    // disappear; the previous page is deleted once control returns to the
    // event loop, so the code that asked for the change may go on.
    void setContentViewController(BaseViewController* page);

    // The segue of identifier from source: a new page of identifier replaces
    // the content (a CustomSegue).
    void performSegue(const std::string& identifier, BaseViewController* source);

Q_SIGNALS:
    void contentViewControllerChanged(tavo::widgets::BaseViewController* page);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::map<std::string, PageFactory> factories_;
    QPointer<BaseViewController> content_;
    QVBoxLayout* layout_ = nullptr;
    KeyEventView* keyEventView_ = nullptr;
};

}  // namespace tavo::widgets
