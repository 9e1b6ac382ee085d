#pragma once

#include <QSet>
#include <QString>

// Texts that many entries share (the times of one pass or one upload burst,
// to the second; a document's type) are held once rather than once per entry.
class SharedTexts {
public:
    QString take(const QString &text)
    {
        if (const auto seen = m_texts.constFind(text); seen != m_texts.cend())
            return *seen;
        m_texts.insert(text);
        return text;
    }

private:
    QSet<QString> m_texts;
};
