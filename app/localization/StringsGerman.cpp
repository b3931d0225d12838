#include "app/localization/StringTables.h"

namespace cb::strings {

namespace {

constexpr StringEntry kGerman[] = {
    {"mode.folder", "Festplattenanalyse"},
    {"mode.apps", "Programme"},
    {"welcome.title", "Finde und schaffe Platz auf deinem Mac"},
    {"welcome.pick", "Ordner wählen"},
    {"welcome.scanHome", "Benutzerordner scannen"},
    {"welcome.scanMac", "Ganzen Mac scannen"},
    {"welcome.uninstall", "Programme deinstallieren"},
    {"welcome.privacy", "Alles läuft lokal. Deine Dateien verlassen niemals deinen Mac."},
    {"welcome.thinSnapshots", "Lokale Schnappschüsse freigeben (%d)"},
    {"welcome.thinSnapshots.help",
     "Lokale Time Machine-Schnappschüsse entfernen, um versteckten Speicherplatz freizugeben."},
    {"panel.message", "Wähle einen Ordner zur Analyse"},
    {"panel.prompt", "Scannen"},
    {"scan.progress", "Scannen…"},
    {"common.cancel", "Abbrechen"},
    {"toolbar.newScan", "Neuer Scan"},
    {"toolbar.up", "Nach oben"},
    {"toolbar.refresh", "Aktualisieren (⌘R)"},
    {"toolbar.volumeCapacity", "Freier Speicher / Gesamt auf dem Volume"},
    {"toolbar.fileSizes", "Dateigrößen: %@"},
    {"toolbar.fileSizesHelp",
     "Summe der belegten Dateigrößen. APFS-Kopien können Blöcke gemeinsam nutzen, daher kann "
     "diese Summe die tatsächliche Belegung übersteigen. Sie ist nicht unbedingt der Platz, den "
     "das Löschen dieser Dateien freigibt."},
    {"snapshots.confirm.title", "Lokale Schnappschüsse freigeben?"},
    {"snapshots.confirm.body",
     "macOS behält lokale Time Machine-Schnappschüsse deines Volumes, auch wenn Time Machine "
     "ausgeschaltet ist. Sie sind für den Scanner unsichtbar und können Dutzende Gigabyte "
     "belegen.\n\nmacOS wird gebeten, alle entfernbaren lokalen Schnappschüsse zu entfernen. "
     "Deine Dateien werden nicht gelöscht — nur die automatischen Sicherungskopien. "
     "Schnappschüsse auf einem externen Time Machine-Volume sind nicht betroffen."},
    {"snapshots.confirm.action", "Freigeben"},
    {"snapshots.result.title", "Fertig"},
    {"snapshots.result.freed", "%@ freigegeben."},
    {"snapshots.result.none",
     "Es wurde nichts freigegeben. Lokale Schnappschüsse können durch ein kürzliches Backup oder "
     "macOS festgehalten werden."},
    {"delete.title", "In den Papierkorb legen?"},
    {"delete.bodyDir",
     "Der Ordner und sein gesamter Inhalt werden in den Finder-Papierkorb gelegt."},
    {"delete.bodyFile", "Die Datei wird in den Finder-Papierkorb gelegt."},
    {"delete.name", "Name"},
    {"delete.path", "Pfad"},
    {"delete.size", "Größe"},
    {"delete.count", "Dateien"},
    {"delete.confirm", "In den Papierkorb"},
    {"delete.failed", "Löschen fehlgeschlagen"},
    {"menu.revealInFinder", "Im Finder zeigen"},
    {"menu.openHere", "Hier öffnen"},
    {"menu.open", "Öffnen"},
    {"menu.moveToTrash", "In den Papierkorb…"},
    {"menu.uninstallEllipsis", "Deinstallieren…"},
    {"menu.revealInFinderShort", "Im Finder"},
    {"apps.search", "Programme durchsuchen…"},
    {"apps.reload", "Liste aktualisieren"},
    {"apps.loading", "Programme werden gesucht…"},
    {"apps.sizeDesc", "Größe ↓"},
    {"apps.sizeAsc", "Größe ↑"},
    {"apps.nameAsc", "Name A–Z"},
    {"apps.nameDesc", "Name Z–A"},
    {"apps.lastOpened", "Zuletzt geöffnet"},
    {"apps.deleteHelp", "Programm deinstallieren"},
    {"apps.neverOpened", "nie geöffnet"},
    {"apps.openedRelative", "geöffnet %@"},
    {"apps.breakdown", "Aufschlüsselung"},
    {"apps.application", "Programm"},
    {"apps.lookingRelated", "Zugehörige Dateien werden gesucht…"},
    {"apps.noRelated", "Keine zugehörigen Dateien gefunden"},
    {"apps.itemOne", "Objekt"},
    {"apps.itemMany", "Objekte"},
    {"apps.details", "Details"},
    {"details.largest", "Am größten"},
    {"uninstall.sharedData",
     "Kann mit anderen Programmen geteilt sein; nur auswählen, wenn nicht mehr benötigt."},
    {"uninstall.confirmTitle", "%@ deinstallieren?"},
    {"uninstall.running", "Programm läuft"},
    {"uninstall.runningHelp", "Beende %@ vor dem Deinstallieren."},
    {"uninstall.quit", "Programm beenden"},
    {"uninstall.moveTrash", "In den Papierkorb (%@, %@)"},
    {"uninstall.bundleLabel", "Programm"},
    {"uninstall.searching", "Zugehörige Dateien werden gesucht…"},
    {"perm.title", "Zusätzliche Berechtigungen erforderlich"},
    {"perm.summary", "Gelöscht: %d. %d Objekt(e) benötigen noch eine Berechtigung."},
    {"perm.appMgmt.title", "App-Verwaltung"},
    {"perm.appMgmt.body",
     "Um Programme aus /Applications zu entfernen, füge Cellarbright unter Datenschutz & "
     "Sicherheit → App-Verwaltung hinzu."},
    {"perm.appMgmt.open", "App-Verwaltung öffnen"},
    {"perm.fda.title", "Festplattenvollzugriff"},
    {"perm.fda.body",
     "Um zugehörige Dateien in /Library und ~/Library zu entfernen, füge Cellarbright zum "
     "Festplattenvollzugriff hinzu."},
    {"perm.fda.open", "Festplattenvollzugriff öffnen"},
    {"perm.whatFailed", "Was nicht gelöscht werden konnte"},
    {"perm.restartHint",
     "Starte Cellarbright nach dem Aktivieren des Schalters neu und versuche es erneut."},
    {"perm.close", "Schließen"},
    {"fda.prompt.title", "Festplattenvollzugriff erforderlich"},
    {"fda.prompt.body",
     "Um diesen Ort korrekt zu analysieren, benötigt Cellarbright eine Berechtigung in den "
     "Systemeinstellungen."},
    {"fda.step.open", "Klicke auf „Einstellungen öffnen“"},
    {"fda.step.toggle", "Aktiviere den Schalter neben „Cellarbright“ unter Festplattenvollzugriff"},
    {"fda.step.continue", "Kehre hierher zurück und klicke auf „Fortfahren“"},
    {"fda.pathLabel", "Pfad: %@"},
    {"fda.continueAnyway", "Ohne Zugriff fortfahren"},
    {"fda.openSettings", "Einstellungen öffnen"},
    {"fda.banner.title", "Einige Ordner wurden übersprungen (%d)"},
    {"fda.banner.body", "Gib Cellarbright Festplattenvollzugriff für das vollständige Bild."},
    {"trash.summary", "Gelöscht: %d. Fehlgeschlagen: %d.\n\n%@"},
    {"trash.needsAdmin",
     "Konnte nicht in den Papierkorb gelegt werden (eventuell sind Administratorrechte "
     "erforderlich)."},
    {"trash.fileNotFound", "Datei nicht gefunden"},
    {"trash.cannotMove", "konnte nicht in den Papierkorb gelegt werden"},
    {"trash.cannotLaunchOsa", "osascript konnte nicht gestartet werden: %@"},
    {"trash.notDeleted", "nicht gelöscht"},
    {"trash.userCancelled", "Passwortabfrage vom Benutzer abgebrochen"},
    {"trash.adminFailed", "Administrator-Autorisierung fehlgeschlagen"},
    {"language.picker", "Sprache der Oberfläche"},
    {"appstore.limited.title", "Eingeschränkte Version"},
    {"appstore.limited.body",
     "Diese Version kann nur von dir gewählte Ordner analysieren und keine Programme entfernen."},
    {"appstore.limited.diagram", "Gewählte Ordner → Festplattenkarte"},
    {"appstore.limited.uninstall", "Zum Deinstallieren von Programmen ist die Vollversion nötig."},
    {"appstore.limited.cta", "Vollversion holen"},
};

static_assert(std::size(kGerman) == kStringKeyCount);

}  // namespace

std::span<const StringEntry> german() {
    return kGerman;
}

}  // namespace cb::strings
