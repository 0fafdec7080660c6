#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;

namespace ferrow {

class CDoc;
class CDeviceView;
class CTagView;
class DeviceCommands;
class RecentFileList;

// The main window: menus, toolbar, status bar and the splitter with the device tree (one third) and the
// tag list (two thirds). It also does the framework's part for the one document: New, Open, Save and
// Save As, the recent files, the caption, and asking to save a changed configuration. Exit and the close
// box first ask when OPC clients are connected. User-interface thread.
class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    // `stopComThread` cuts off the OPC clients when the user agrees to exit while they are connected.
    CMainFrame(CDoc& doc, RecentFileList& recent, std::function<void()> stopComThread, bool showSplash,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The framework's new and open, also used at start-up. Open false: the file could not be read (it
    // was reported; an empty configuration is shown).
    bool OnNewDocument();
    bool OpenDocumentFile(const QString& path);

    // Command handlers.
    void OnFileNew();
    void OnFileOpen();
    bool OnFileSave();
    bool OnFileSaveAs();
    void OnFileMruFile(int index);
    void OnAppExit();
    void OnAppAbout();
    // Refreshes every command's state and the selection pane (on a short timer, as the framework does when
    // idle, and whenever a menu opens).
    void UpdateCommandStates();
    // Restored, raised and activated: a second instance asked for it.
    void BringToFront();

    QString pathName() const { return m_strPathName; }
    QString title() const { return m_strTitle; }

    CDeviceView* m_pDeviceView = nullptr;
    CTagView* m_pTagView = nullptr;
    DeviceCommands* m_pCommands = nullptr;
    QSplitter* m_wndSplitter = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_wndMessagePane = nullptr;
    QLabel* m_wndSelectionPane = nullptr;

    QAction* actFileNew = nullptr;
    QAction* actFileOpen = nullptr;
    QAction* actFileSave = nullptr;
    QAction* actFileSaveAs = nullptr;
    QAction* actAppExit = nullptr;
    QAction* actEditCut = nullptr;
    QAction* actEditCopy = nullptr;
    QAction* actEditPaste = nullptr;
    QAction* actViewToolbar = nullptr;
    QAction* actViewStatusBar = nullptr;
    QAction* actAppAbout = nullptr;
    QMenu* mnuFile = nullptr;
    QMenu* mnuEdit = nullptr;
    QMenu* mnuView = nullptr;
    QMenu* mnuHelp = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnCreate(bool showSplash);
    void OnCreateClient();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void FillRecentFiles();
    void WatchMenu(QMenu* menu);
    void SetPathName(const QString& path);
    void UpdateFrameTitle();
    // The framework's "Save changes to ...?"; false when the user cancelled or saving failed.
    bool SaveModified();
    bool DoSave(const QString& path);
    // The connected-clients question; false when the user said No. Yes has the clients cut off once
    // the exit is certain (the save question answered).
    bool ConfirmExitWithClients(int icon);

    CDoc& m_doc;
    RecentFileList& m_recent;
    std::function<void()> m_stopComThread;
    QString m_strPathName;
    QString m_strTitle;
    QTimer* m_updateTimer = nullptr;
    bool m_bExitConfirmed = false;
    bool m_bCutOffClients = false;
    bool m_bSplitterSized = false;
};

}  // namespace ferrow
