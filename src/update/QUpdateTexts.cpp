#include "update/QUpdateTexts.h"

namespace {
const char* const kEnglish[QUpdateTexts::Count] = {
    "released on %1",
    "A new version of %1 is available!",
    "%1 %2 is now available - you have %3. Would you like to download it now?",
    "Software Update",
    "Release Notes:",
    "Remind Me Later",
    "Skip This Version",
    "Install Update",
    "Check for updates automatically",
    "You're up to date!",
    "%1 %2 is currently the newest version available.",
    "An error occurred while downloading the update. Please try again later.",
    "An error occurred while parsing the update feed.",
    "Updating %1",
    "Cancel",
    "Install and Relaunch",
    "Downloading update...",
    "Extracting update...",
    "Ready to Install",
    "%1 of %2",
    "B",
    "KB",
    "MB",
    "GB",
};

const char* const kRussian[QUpdateTexts::Count] = {
    "выпущена %1",
    "Доступна новая версия %1!",
    "Доступна версия %1 %2, у вас установлена %3. Загрузить её сейчас?",
    "Обновление программы",
    "Список изменений:",
    "Напомнить позже",
    "Пропустить эту версию",
    "Установить обновление",
    "Проверять обновления автоматически",
    "У вас последняя версия!",
    "%1 %2 — последняя доступная версия.",
    "При загрузке обновления произошла ошибка. Попробуйте позже.",
    "При разборе списка обновлений произошла ошибка.",
    "Обновление %1",
    "Отмена",
    "Установить и перезапустить",
    "Загрузка обновления...",
    "Распаковка обновления...",
    "Готово к установке",
    "%1 из %2",
    "Б",
    "КБ",
    "МБ",
    "ГБ",
};
} // namespace

void QUpdateTexts::update(QLocale::Language language)
{
    const bool bRussian = m_bEnabled && language == QLocale::Russian;
    const char* const* table = bRussian ? kRussian : kEnglish;
    for (int i = 0; i < Count; ++i)
        m_Strings[i] = QString::fromUtf8(table[i]);
}
