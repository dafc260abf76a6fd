#pragma once

#include <QClipboard>
#include <QLineEdit>
#include <QString>

class QAction;
class QMenu;

namespace corvane {

// A single-line edit that takes only characters from an allowed set, both typed and pasted.
// Typed text is filtered character by character; anything pasted (shortcut, context menu,
// drag and drop, input-method commit, X11 middle-button selection) goes in whole or not at
// all. Text set by the program (setText) is never filtered.
class CFilterEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CFilterEdit(QWidget* parent = nullptr);

    // Takes effect on the next keystroke or paste; the current text is left alone.
    void setAllowedChars(const QString& chars) { m_allowedChars = chars; }
    const QString& allowedChars() const { return m_allowedChars; }

    // True when every character of text is in the allowed set (control characters included).
    bool isAllowedText(const QString& text) const;

    // The standard context menu with its Paste entry routed through the filter. The caller
    // owns the menu.
    QMenu* createFilteredContextMenu();

public slots:
    // Replaces the selection with the clipboard text when all of it is allowed; an empty
    // clipboard deletes the selection. Does nothing on a read-only field.
    void pasteFiltered(QClipboard::Mode mode = QClipboard::Clipboard);

protected:
    // Seams for tests: the offscreen platform has no X11 selection clipboard.
    virtual QString clipboardText(QClipboard::Mode mode) const;
    virtual bool hasSelectionClipboard() const;

    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool isPasteKey(const QKeyEvent* event) const;
    bool wouldInsertText(const QKeyEvent* event) const;
    bool isAllowedKeyText(const QString& text) const;
    bool acceptsDroppedText(const QMimeData* mime) const;
    bool detachFromPlainPaste(QAction* action);

    QString m_allowedChars;
};

}  // namespace corvane
