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

}  // namespace tavo
