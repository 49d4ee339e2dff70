#pragma once

#include <QString>

// Russian nouns after a number take one of three forms: 1, 21, 101 показание; 2-4, 22-24
// показания; 0, 5-20, 25-30, 111-114 показаний. one, few and many are the noun's three forms.
QString pluralForm(qint64 count, const QString& one, const QString& few, const QString& many);
// The count and its noun: "42 показания".
QString countText(qint64 count, const QString& one, const QString& few, const QString& many);

// The nouns the program counts.
QString readingsText(qint64 count); // показание
QString bytesText(qint64 count);    // байт
