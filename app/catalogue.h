// The translation catalogue embedded in every program that links the
// translations library: compiled from resources/zh_CN.ts at build time.
#pragma once

class QTranslator;

constexpr char kCataloguePath[] = ":/ts/zh_CN.qm";

// Loads the catalogue into `translator` and installs it for the application.
// False when it cannot be loaded; the translator is installed all the same
// and then translates nothing, so every text shows in its source form.
bool installCatalogue(QTranslator &translator);
