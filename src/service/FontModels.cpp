#include "service/FontModels.h"

namespace tavo {

template struct Envelope<FontsContainer>;

void Fonts::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "userFontId", userFontId, path);
    inject(dictionary, "activateFlg", activateFlg, path);
    inject(dictionary, "fontId", fontId, path);
    inject(dictionary, "displayFontName", displayFontName, path);
    inject(dictionary, "fileName", fileName, path);
    inject(dictionary, "fileSize", fileSize, path);
    inject(dictionary, "version", version, path);
    inject(dictionary, "needFontVersionUpdate", needFontVersionUpdate, path);
    inject(dictionary, "isAvailableFont", isAvailableFont, path);
    inject(dictionary, "isFreemium", isFreemium, path);
    injectRawArray(dictionary, "contractIds", contractIds, path);
}

void FontsContainer::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "fonts", fonts, path);
    inject(dictionary, "hasNext", hasNext, path);
}

void Fonts::propertyExport(Json& dictionary) const {
    put(dictionary, "userFontId", userFontId);
    put(dictionary, "activateFlg", activateFlg);
    put(dictionary, "fontId", fontId);
    put(dictionary, "displayFontName", displayFontName);
    put(dictionary, "fileName", fileName);
    put(dictionary, "fileSize", fileSize);
    put(dictionary, "version", version);
    put(dictionary, "needFontVersionUpdate", needFontVersionUpdate);
    put(dictionary, "isAvailableFont", isAvailableFont);
    put(dictionary, "isFreemium", isFreemium);
    put(dictionary, "contractIds", contractIds);
}

void FontsContainer::propertyExport(Json& dictionary) const {
    put(dictionary, "fonts", fonts);
    put(dictionary, "hasNext", hasNext);
}

}  // namespace tavo
