#include "cue/cuelist.h"

#include "app/error.h"

#include <new>

TListBox::TListBox(QWidget *parent) : QWidget(parent)
{
    hide();
}

void TListBox::clear()
{
    m_text = QByteArray();
    m_lines = std::vector<CueSpan>();
    m_head = 0;
}

void TListBox::loadFromFile(const QString &path)
{
    addText(ReadCueFile(path));
}

void TListBox::addText(QByteArray text)
{
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    if (count() == 0)
        clear();
    try {
        // The lines of both texts must still be told apart in one buffer.
        if (text.size() > CueTextLimit - m_text.size())
            throw std::bad_alloc();
        std::vector<CueSpan> lines = SplitCueLines(text);
        const quint32 offset = quint32(m_text.size());
        for (CueSpan &line : lines)
            line.begin += offset;
        // Everything that can run out of memory happens before the list
        // changes, so the lines already there stay as they were.
        if (m_lines.empty()) {
            m_text = std::move(text);
            m_lines = std::move(lines);
        } else {
            m_lines.reserve(m_lines.size() + lines.size());
            m_text.append(text);
            m_lines.insert(m_lines.end(), lines.begin(), lines.end());
        }
    } catch (const std::bad_alloc &) {
        throw Error("Unable to insert a line");
    }
}

qsizetype TListBox::count() const
{
    return qsizetype(m_lines.size() - m_head);
}

QByteArrayView TListBox::item(qsizetype index) const
{
    if (index < 0 || index >= count())
        return {};
    const CueSpan &line = m_lines[m_head + std::size_t(index)];
    return QByteArrayView(m_text.constData() + line.begin, line.length);
}

void TListBox::removeHead()
{
    if (count() == 0)
        return;
    ++m_head;
    // The last line gone, the text is of no more use.
    if (count() == 0)
        clear();
}
