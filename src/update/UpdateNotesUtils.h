#pragma once

#include <QString>

// Release notes come from the network: only a small subset of HTML is shown.
namespace UpdateNotesUtils {
// Keeps paragraphs, line breaks, lists, bold and italic (without attributes) and links to https
// pages; every other tag goes (images, styles, scripts, anything that loads a resource), and
// the text between tags is shown as text.
QString sanitize(const QString& html);
} // namespace UpdateNotesUtils
