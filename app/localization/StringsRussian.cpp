#include "app/localization/StringTables.h"

namespace cb::strings {

namespace {

constexpr StringEntry kRussian[] = {
    {"mode.folder", "Анализ диска"},
    {"mode.apps", "Приложения"},
    {"welcome.title", "Найдите и освободите место на вашем Mac"},
    {"welcome.pick", "Выбрать папку"},
    {"welcome.scanHome", "Сканировать домашнюю папку"},
    {"welcome.scanMac", "Сканировать весь Mac"},
    {"welcome.uninstall", "Удалить приложения"},
    {"welcome.privacy", "Всё работает локально. Ваши файлы никогда не покидают ваш Mac."},
    {"welcome.thinSnapshots", "Освободить локальные снимки (%d)"},
    {"welcome.thinSnapshots.help",
     "Удалить локальные снимки Time Machine, чтобы освободить скрытое место на диске."},
    {"panel.message", "Выберите папку для анализа"},
    {"panel.prompt", "Сканировать"},
    {"scan.progress", "Сканирование…"},
    {"common.cancel", "Отмена"},
    {"toolbar.newScan", "Новое сканирование"},
    {"toolbar.up", "Вверх"},
    {"toolbar.refresh", "Обновить (⌘R)"},
    {"toolbar.volumeCapacity", "Свободно / всего на томе"},
    {"toolbar.fileSizes", "Размер файлов: %@"},
    {"toolbar.fileSizesHelp",
     "Сумма выделенных размеров файлов. Копии в APFS могут делить блоки диска, поэтому эта сумма "
     "может превышать фактическое занятое место. Это не обязательно то место, которое "
     "освободится при удалении этих файлов."},
    {"snapshots.confirm.title", "Освободить локальные снимки?"},
    {"snapshots.confirm.body",
     "macOS хранит локальные снимки Time Machine вашего диска, даже когда Time Machine выключена. "
     "Они не видны сканеру и могут занимать десятки гигабайт.\n\nmacOS будет предложено удалить "
     "все локальные снимки, которые можно удалить. Ваши файлы не удаляются — только "
     "автоматические резервные копии. Снимки на внешнем диске Time Machine не затрагиваются."},
    {"snapshots.confirm.action", "Освободить"},
    {"snapshots.result.title", "Готово"},
    {"snapshots.result.freed", "Освобождено %@."},
    {"snapshots.result.none",
     "Ничего не освобождено. Локальные снимки могут удерживаться недавней резервной копией или "
     "macOS."},
    {"delete.title", "Переместить в Корзину?"},
    {"delete.bodyDir", "Папка и всё её содержимое будут перемещены в Корзину Finder."},
    {"delete.bodyFile", "Файл будет перемещён в Корзину Finder."},
    {"delete.name", "Имя"},
    {"delete.path", "Путь"},
    {"delete.size", "Размер"},
    {"delete.count", "Файлов"},
    {"delete.confirm", "Переместить в Корзину"},
    {"delete.failed", "Не удалось удалить"},
    {"menu.revealInFinder", "Показать в Finder"},
    {"menu.openHere", "Открыть здесь"},
    {"menu.open", "Открыть"},
    {"menu.moveToTrash", "Переместить в Корзину…"},
    {"menu.uninstallEllipsis", "Удалить…"},
    {"menu.revealInFinderShort", "В Finder"},
    {"apps.search", "Поиск приложений…"},
    {"apps.reload", "Обновить список"},
    {"apps.loading", "Поиск приложений…"},
    {"apps.sizeDesc", "Размер ↓"},
    {"apps.sizeAsc", "Размер ↑"},
    {"apps.nameAsc", "Имя А–Я"},
    {"apps.nameDesc", "Имя Я–А"},
    {"apps.lastOpened", "Последнее открытие"},
    {"apps.deleteHelp", "Удалить приложение"},
    {"apps.neverOpened", "никогда не открывалось"},
    {"apps.openedRelative", "открыто %@"},
    {"apps.breakdown", "Состав"},
    {"apps.application", "Приложение"},
    {"apps.lookingRelated", "Поиск связанных файлов…"},
    {"apps.noRelated", "Связанные файлы не найдены"},
    {"apps.itemOne", "объект"},
    {"apps.itemMany", "объектов"},
    {"apps.details", "Подробности"},
    {"details.largest", "Самые большие"},
    {"uninstall.sharedData",
     "Может использоваться другими приложениями; выбирайте, только если больше не нужно."},
    {"uninstall.confirmTitle", "Удалить %@?"},
    {"uninstall.running", "Приложение запущено"},
    {"uninstall.runningHelp", "Завершите %@ перед удалением."},
    {"uninstall.quit", "Завершить приложение"},
    {"uninstall.moveTrash", "Переместить в Корзину (%@, %@)"},
    {"uninstall.bundleLabel", "Приложение"},
    {"uninstall.searching", "Поиск связанных файлов…"},
    {"perm.title", "Нужны дополнительные разрешения"},
    {"perm.summary", "Удалено: %d. Осталось объектов, которым нужно разрешение: %d."},
    {"perm.appMgmt.title", "Управление приложениями"},
    {"perm.appMgmt.body",
     "Чтобы удалять приложения из /Applications, добавьте Cellarbright в разделе "
     "Конфиденциальность и безопасность → Управление приложениями."},
    {"perm.appMgmt.open", "Открыть «Управление приложениями»"},
    {"perm.fda.title", "Полный доступ к диску"},
    {"perm.fda.body",
     "Чтобы удалять связанные файлы в /Library и ~/Library, добавьте Cellarbright в «Полный "
     "доступ к диску»."},
    {"perm.fda.open", "Открыть «Полный доступ к диску»"},
    {"perm.whatFailed", "Что не удалось удалить"},
    {"perm.restartHint", "После включения переключателя перезапустите Cellarbright и повторите."},
    {"perm.close", "Закрыть"},
    {"fda.prompt.title", "Требуется полный доступ к диску"},
    {"fda.prompt.body",
     "Чтобы правильно проанализировать это место, Cellarbright нужно разрешение в Системных "
     "настройках."},
    {"fda.step.open", "Нажмите «Открыть настройки»"},
    {"fda.step.toggle",
     "Включите переключатель рядом с «Cellarbright» в разделе «Полный доступ к диску»"},
    {"fda.step.continue", "Вернитесь сюда и нажмите «Продолжить»"},
    {"fda.pathLabel", "Путь: %@"},
    {"fda.continueAnyway", "Продолжить без доступа"},
    {"fda.openSettings", "Открыть настройки"},
    {"fda.banner.title", "Некоторые папки пропущены (%d)"},
    {"fda.banner.body", "Дайте Cellarbright полный доступ к диску, чтобы увидеть полную картину."},
    {"trash.summary", "Удалено: %d. Ошибок: %d.\n\n%@"},
    {"trash.needsAdmin",
     "Не удалось переместить в Корзину (возможно, нужны права администратора)."},
    {"trash.fileNotFound", "файл не найден"},
    {"trash.cannotMove", "не удалось переместить в Корзину"},
    {"trash.cannotLaunchOsa", "не удалось запустить osascript: %@"},
    {"trash.notDeleted", "не удалено"},
    {"trash.userCancelled", "пользователь отменил ввод пароля"},
    {"trash.adminFailed", "авторизация администратора не удалась"},
    {"language.picker", "Язык интерфейса"},
    {"appstore.limited.title", "Ограниченная версия"},
    {"appstore.limited.body",
     "Эта версия может анализировать только выбранные вами папки и не может удалять "
     "приложения."},
    {"appstore.limited.diagram", "Выбранные папки → Карта диска"},
    {"appstore.limited.uninstall", "Для удаления приложений нужна полная версия."},
    {"appstore.limited.cta", "Получить полную версию"},
};

static_assert(std::size(kRussian) == kStringKeyCount);

}  // namespace

std::span<const StringEntry> russian() {
    return kRussian;
}

}  // namespace cb::strings
