#pragma once

#include "cue/cuefile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QWidget>
#include <vector>

// The list of pending cue lines, in file order; item 0 is the head. It is a
// hidden component of the window. The file's text is kept in one buffer and
// the lines as spans into it, so a million lines cost little memory and
// removing the head costs the same whatever the length.
class TListBox : public QWidget
{
    Q_OBJECT
public:
    explicit TListBox(QWidget *parent = nullptr);

    void clear();
    // Appends every line of the file. Throws the file-open error, or
    // Error("Unable to insert a line") when memory runs out.
    void loadFromFile(const QString &path);
    // Appends every line of the text, as loadFromFile does.
    void addText(QByteArray text);

    qsizetype count() const;
    QByteArrayView item(qsizetype index) const;
    QByteArrayView head() const { return item(0); }
    void removeHead();

private:
    QByteArray m_text;
    std::vector<CueSpan> m_lines;
    std::size_t m_head = 0;
};
