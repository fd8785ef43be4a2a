// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/word_wrap.h"

namespace lang {
namespace {

const QString kLineBreak = QStringLiteral("\r\n");

bool IsBreakChar(QChar c) {
    return c == u' ' || c == u'-' || c == u'\t';
}
bool IsQuote(QChar c) {
    return c == u'\'' || c == u'"';
}

} // namespace

QString WrapText(const QString& line, int maxColumn) {
    QString result;
    const qsizetype length = line.size();
    qsizetype pos = 0;     // next character to read
    qsizetype linePos = 0; // start of the current output line
    qsizetype breakPos = -1;
    qsizetype column = 0;
    QChar quote;
    bool existingBreak = false;

    while (pos < length) {
        const QChar c = line[pos];
        if (c == u'\r' && quote.isNull()) {
            existingBreak = line.mid(pos, 2) == kLineBreak;
            if (existingBreak) {
                ++pos; // onto the LF
                breakPos = pos;
            }
        } else if (IsBreakChar(c)) {
            if (quote.isNull()) breakPos = pos;
        } else if (IsQuote(c)) {
            if (c == quote)
                quote = QChar();
            else if (quote.isNull())
                quote = c;
        }
        ++pos;
        ++column;
        if (!quote.isNull() || !(existingBreak || (column > maxColumn && breakPos > linePos)))
            continue;

        // Cut after the last break character (or after the existing line break).
        result += line.mid(linePos, breakPos - linePos + 1);
        bool lineBreakFollows = existingBreak;
        qsizetype scan = pos;
        if (!IsQuote(c)) {
            lineBreakFollows = false;
            while (scan < length) {
                if (IsBreakChar(line[scan])) {
                    ++scan;
                    lineBreakFollows = false;
                } else if (line.mid(scan, 2) == kLineBreak) {
                    scan += 2;
                    lineBreakFollows = true;
                } else {
                    break;
                }
            }
        }
        if (scan < length && !lineBreakFollows && !existingBreak) result += kLineBreak;
        linePos = breakPos + 1;
        pos = linePos;
        column = 0;
        existingBreak = false;
    }
    result += line.mid(linePos);
    return result;
}

} // namespace lang
