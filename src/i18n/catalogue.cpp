#include "i18n/catalogue.h"

namespace kelmora {

const std::array<CatalogueEntry, catalogue_size> catalogue = {{
    {"tab_graphics", {"Graphics", "Grafik", "Gráficos", "Graphisme"}},
    {"tab_printer", {"Printer", "Drucker", "Impresora", "Imprimante"}},
    {"tab_scanner", {"Scanner", "Scanner", "Escáner", "Scanner"}},
    {"nv_title", {" NVIDIA GeForce", " NVIDIA GeForce", " NVIDIA GeForce", " NVIDIA GeForce"}},
    {"nv_btn",
     {"Install Nvidia + 32-Bit", "Nvidia + 32-Bit installieren", "Instalar Nvidia + 32-bit",
      "Installer Nvidia + 32-bit"}},
    {"nv_opt_current",
     {"Current driver (nvidia)", "Aktueller Treiber (nvidia)", "Controlador actual (nvidia)",
      "Pilote actuel (nvidia)"}},
    {"nv_opt_older",
     {"Older driver (nvidia470)", "Älterer Treiber (nvidia470)", "Controlador anterior (nvidia470)",
      "Ancien pilote (nvidia470)"}},
    {"nv_opt_legacy",
     {"Legacy driver (nvidia390)", "Legacy Treiber (nvidia390)", "Controlador heredado (nvidia390)",
      "Pilote hérité (nvidia390)"}},
    {"nv_opt_580",
     {"Maxwell/Pascal/Volta driver (nvidia580)", "Maxwell/Pascal/Volta-Treiber (nvidia580)",
      "Controlador Maxwell/Pascal/Volta (nvidia580)", "Pilote Maxwell/Pascal/Volta (nvidia580)"}},
    {"amd_title", {" AMD Radeon", " AMD Radeon", " AMD Radeon", " AMD Radeon"}},
    {"amd_desc",
     {"Mesa drivers, Vulkan support & 32-bit libraries",
      "Mesa-Treiber, Vulkan-Support & 32-Bit Bibliotheken",
      "Controladores Mesa, soporte Vulkan y bibliotecas de 32 bits",
      "Pilotes Mesa, support Vulkan & bibliothèques 32-bit"}},
    {"amd_btn",
     {"Install AMD Packages", "AMD-Pakete installieren", "Instalar paquetes de AMD",
      "Installer les paquets AMD"}},
    {"intel_title",
     {" Intel HD/UHD/Arc", " Intel HD/UHD/Arc", " Intel HD/UHD/Arc", " Intel HD/UHD/Arc"}},
    {"intel_desc",
     {"Mesa drivers, hardware acceleration (VA-API) & 32-bit",
      "Mesa-Treiber, Hardware-Beschleunigung (VA-API) & 32-Bit",
      "Controladores Mesa, aceleración de hardware (VA-API) y 32 bits",
      "Pilotes Mesa, accélération matérielle (VA-API) & 32-bit"}},
    {"intel_btn",
     {"Install Intel Packages", "Intel-Pakete installieren", "Instalar paquetes de Intel",
      "Installer les paquets Intel"}},
    {"pr_srv_title",
     {" 1. Print Services & Network Discovery", " 1. Druckdienste & Netzwerk-Erkennung",
      " 1. Servicios de impresión y detección de red",
      " 1. Services d'impression & détection réseau"}},
    {"pr_srv_desc",
     {"Sets up CUPS & Avahi (mDNS) for driverless printers (AirPrint).",
      "Richtet CUPS & Avahi (mDNS) für treiberlose Drucker (AirPrint) ein.",
      "Configura CUPS y Avahi (mDNS) para impresoras sin controlador (AirPrint).",
      "Configure CUPS & Avahi (mDNS) pour les imprimantes sans pilote (AirPrint)."}},
    {"pr_srv_btn",
     {"Set up Services", "Dienste einrichten", "Configurar servicios", "Configurer les services"}},
    {"pr_drv_title",
     {" 2. Manufacturer-Specific Drivers", " 2. Herstellerspezifische Treiber",
      " 2. Controladores específicos del fabricante", " 2. Pilotes spécifiques au fabricant"}},
    {"chk_hp",
     {"HP Printers (hplip)", "HP Drucker (hplip)", "Impresoras HP (hplip)",
      "Imprimantes HP (hplip)"}},
    {"chk_brother_pr",
     {"Brother Laser (brlaser)", "Brother Laser (brlaser)", "Láser Brother (brlaser)",
      "Laser Brother (brlaser)"}},
    {"chk_epson_pr",
     {"Epson Printers (epson-inkjet-printer-escpr)", "Epson Drucker (epson-inkjet-printer-escpr)",
      "Impresoras Epson (epson-inkjet-printer-escpr)",
      "Imprimantes Epson (epson-inkjet-printer-escpr)"}},
    {"chk_gutenprint",
     {"Gutenprint & Foomatic databases (Canon, Lexmark, etc.)",
      "Gutenprint & Foomatic-Datenbanken (Canon, Lexmark, u.a.)",
      "Bases de datos Gutenprint y Foomatic (Canon, Lexmark, etc.)",
      "Bases de données Gutenprint & Foomatic (Canon, Lexmark, etc.)"}},
    {"scan_srv_title",
     {" 1. Scanner Interface (SANE) & Driverless", " 1. Scanner-Schnittstelle (SANE) & Driverless",
      " 1. Interfaz de escáner (SANE) y sin controlador",
      " 1. Interface de scanner (SANE) & sans pilote"}},
    {"scan_srv_desc",
     {"Installs SANE (Backend) and sane-airscan for modern network scanners.",
      "Installiert SANE (Backend) und sane-airscan für moderne Netzwerk-Scanner.",
      "Instala SANE (Backend) y sane-airscan para escáneres de red modernos.",
      "Installe SANE (Backend) et sane-airscan pour les scanners réseau modernes."}},
    {"scan_srv_btn", {"Set up SANE", "SANE einrichten", "Configurar SANE", "Configurer SANE"}},
    {"scan_apps_title",
     {" 2. Drivers & Scan Software", " 2. Treiber & Scan-Software",
      " 2. Controladores y software de escaneo", " 2. Pilotes & logiciels de numérisation"}},
    {"chk_brother_scan4",
     {"Brother Scanner (brother-brscan4) [nonfree]", "Brother Scanner (brother-brscan4) [nonfree]",
      "Escáner Brother (brother-brscan4) [nonfree]",
      "Scanner Brother (brother-brscan4) [nonfree]"}},
    {"chk_brother_scan5",
     {"Brother Scanner (brother-brscan5) [nonfree]", "Brother Scanner (brother-brscan5) [nonfree]",
      "Escáner Brother (brother-brscan5) [nonfree]",
      "Scanner Brother (brother-brscan5) [nonfree]"}},
    {"chk_simple_scan",
     {"Simple Scan (GNOME Document Scanner)", "Simple Scan (GNOME Dokumenten-Scanner)",
      "Simple Scan (Escáner de documentos GNOME)", "Simple Scan (Scanner de documents GNOME)"}},
    {"chk_skanlite",
     {"Skanlite (KDE Scan Application)", "Skanlite (KDE Scan-Anwendung)",
      "Skanlite (Aplicación de escaneo KDE)", "Skanlite (Application de numérisation KDE)"}},
    {"btn_scan_network",
     {"Scan for Network Printers & Scanners", "Netzwerk-Scanner & Drucker suchen",
      "Buscar escáneres e impresoras de red", "Rechercher des scanners et imprimantes réseau"}},
    {"lang_select", {"Language:", "Sprache:", "Idioma:", "Langue :"}},
    {"status_active", {"Service active", "Dienst aktiv", "Servicio activo", "Service actif"}},
    {"status_inactive",
     {"Service inactive", "Dienst inaktiv", "Servicio inactivo", "Service inactif"}},
    // How the last task ended, above the log: the banner is in the log,
    // which is collapsed by default.
    {"outcome_done", {"Done", "Fertig", "Hecho", "Terminé"}},
    {"outcome_cancel",
     {"Cancelled — nothing was changed", "Abgebrochen — nichts wurde geändert",
      "Cancelado — no se cambió nada", "Annulé — rien n'a été modifié"}},
    // What runs now, next to the spinner.
    {"step_of",
     {"Step {n} of {m}: ", "Schritt {n} von {m}: ", "Paso {n} de {m}: ", "Étape {n} sur {m} : "}},
    {"step_repos",
     {"Enabling repositories", "Repositories werden aktiviert", "Activando repositorios",
      "Activation des dépôts"}},
    {"step_xbps",
     {"Updating xbps", "xbps wird aktualisiert", "Actualizando xbps", "Mise à jour de xbps"}},
    {"step_pool",
     {"Checking the repository pool", "Repository-Pool wird geprüft",
      "Comprobando los repositorios", "Vérification des dépôts"}},
    {"step_remove",
     {"Removing {name}", "{name} wird entfernt", "Quitando {name}", "Suppression de {name}"}},
    {"step_install",
     {"Installing packages", "Pakete werden installiert", "Instalando paquetes",
      "Installation des paquets"}},
    {"step_module",
     {"Building the kernel module", "Kernelmodul wird gebaut", "Compilando el módulo del kernel",
      "Compilation du module noyau"}},
    {"step_check",
     {"Checking the kernel module", "Kernelmodul wird geprüft", "Comprobando el módulo del kernel",
      "Vérification du module noyau"}},
    {"step_blacklist",
     {"Checking what blocks nouveau", "Sperren für nouveau werden geprüft",
      "Comprobando qué bloquea nouveau", "Vérification de ce qui bloque nouveau"}},
    // The way back from an NVIDIA driver to the open one.
    {"nv_open_btn",
     {"Use the open driver (nouveau)", "Offenen Treiber nutzen (nouveau)",
      "Usar el controlador libre (nouveau)", "Utiliser le pilote libre (nouveau)"}},
    {"nv_open_confirm",
     {"Remove {name} and use nouveau?", "{name} entfernen und nouveau nutzen?",
      "¿Quitar {name} y usar nouveau?", "Retirer {name} et utiliser nouveau ?"}},
    {"gpu_open_restart",
     {"the open driver (nouveau) is used after a restart",
      "der offene Treiber (nouveau) wird nach einem Neustart verwendet",
      "el controlador libre (nouveau) se usará tras reiniciar",
      "le pilote libre (nouveau) sera utilisé après un redémarrage"}},
    {"nv_blacklisted",
     {"Still blocks nouveau (kelmora leaves it as it is): {files}",
      "Sperrt nouveau weiterhin (kelmora lässt sie, wie sie ist): {files}",
      "Sigue bloqueando nouveau (kelmora no lo toca): {files}",
      "Bloque encore nouveau (kelmora n'y touche pas) : {files}"}},
    {"step_services",
     {"Enabling services", "Dienste werden aktiviert", "Activando servicios",
      "Activation des services"}},
    {"step_polkit",
     {"Writing the Polkit policy", "Polkit-Regel wird geschrieben",
      "Escribiendo la regla de Polkit", "Écriture de la règle Polkit"}},
    {"step_printer",
     {"Adding printer “{name}”", "Drucker „{name}“ wird hinzugefügt",
      "Añadiendo la impresora «{name}»", "Ajout de l'imprimante « {name} »"}},
    {"step_search",
     {"Searching the network", "Netzwerk wird durchsucht", "Buscando en la red",
      "Recherche sur le réseau"}},
    {"nv_confirm",
     {"Replace {name} anyway?", "{name} trotzdem ersetzen?", "¿Reemplazar {name} de todos modos?",
      "Remplacer {name} quand même ?"}},
    {"outcome_failed",
     {"Failed — see the log", "Fehlgeschlagen — siehe Log", "Error — vea el registro",
      "Échec — voir le journal"}},
    // Polkit missing or not running: nothing ran; the fix in a few words.
    {"outcome_no_pkexec",
     {"Polkit is not installed — install the polkit package",
      "Polkit ist nicht installiert — installieren Sie das Paket polkit",
      "Polkit no está instalado — instale el paquete polkit",
      "Polkit n'est pas installé — installez le paquet polkit"}},
    {"outcome_no_polkit",
     {"Polkit is not running — enable the dbus and polkitd services",
      "Polkit läuft nicht — aktivieren Sie die Dienste dbus und polkitd",
      "Polkit no está en marcha — active los servicios dbus y polkitd",
      "Polkit ne répond pas — activez les services dbus et polkitd"}},
    // The window's own authentication dialog, where no other agent answers.
    {"auth_title",
     {"Authentication Required", "Legitimierung erforderlich", "Autenticación necesaria",
      "Authentification requise"}},
    {"auth_message",
     {"kelmora needs administrator rights to change the system's packages and services.",
      "kelmora braucht Administratorrechte, um Pakete und Dienste des Systems zu ändern.",
      "kelmora necesita permisos de administrador para cambiar los paquetes y servicios del "
      "sistema.",
      "kelmora a besoin des droits d'administrateur pour modifier les paquets et services du "
      "système."}},
    {"auth_runs", {"Runs: {command}", "Führt aus: {command}", "Ejecuta: {command}",
                   "Exécute : {command}"}},
    {"auth_as",
     {"Authenticate as:", "Legitimieren als:", "Autenticar como:",
      "S'authentifier en tant que :"}},
    {"auth_password", {"Password", "Passwort", "Contraseña", "Mot de passe"}},
    {"auth_ok", {"Authenticate", "Legitimieren", "Autenticar", "S'authentifier"}},
    {"auth_cancel", {"Cancel", "Abbrechen", "Cancelar", "Annuler"}},
    {"auth_retry",
     {"That did not work — please try again.", "Das hat nicht geklappt — bitte noch einmal.",
      "No ha funcionado; inténtelo de nuevo.", "Échec de l'authentification — réessayez."}},
    {"outcome_scan",
     {"Search finished — see the log", "Suche beendet — siehe Log",
      "Búsqueda terminada — vea el registro", "Recherche terminée — voir le journal"}},
    // The printer page: printers found on the network and the queues of CUPS.
    {"net_title",
     {" Printers on the Network", " Drucker im Netzwerk", " Impresoras en la red",
      " Imprimantes du réseau"}},
    {"net_none",
     {"No printers found yet. Search with the button below.",
      "Noch keine Drucker gefunden. Mit dem Knopf unten suchen.",
      "Aún no se encontraron impresoras. Busque con el botón de abajo.",
      "Aucune imprimante trouvée. Cherchez avec le bouton ci-dessous."}},
    {"net_add", {"Add", "Hinzufügen", "Añadir", "Ajouter"}},
    {"net_added", {"Added", "Hinzugefügt", "Añadida", "Ajoutée"}},
    {"net_queues",
     {"Print queues: ", "Warteschlangen: ", "Colas de impresión: ", "Files d'impression : "}},
    {"net_no_queues", {"none", "keine", "ninguna", "aucune"}},
    {"net_scanners",
     {"Network scanners (sane-airscan): ", "Netzwerk-Scanner (sane-airscan): ",
      "Escáneres de red (sane-airscan): ", "Scanners réseau (sane-airscan) : "}},
    {"add_ok",
     {": ready to print.", ": bereit zum Drucken.", ": lista para imprimir.",
      " : prête à imprimer."}},
    {"add_no_server",
     {"CUPS is not running: click “Set up Services” first.",
      "CUPS läuft nicht: zuerst „Dienste einrichten“ klicken.",
      "CUPS no está en marcha: pulse primero «Configurar servicios».",
      "CUPS ne tourne pas : cliquez d'abord sur « Configurer les services »."}},
    {"add_no_ppd",
     {"The printer does not describe itself for driverless printing; install its maker's driver.",
      "Der Drucker beschreibt sich nicht für treiberloses Drucken; installieren Sie den Treiber "
      "des Herstellers.",
      "La impresora no se describe para imprimir sin controlador; instale el controlador del "
      "fabricante.",
      "L'imprimante ne se décrit pas pour l'impression sans pilote ; installez le pilote du "
      "fabricant."}},
    {"add_unresolved",
     {"The printer's network name could not be resolved: is it switched on?",
      "Der Netzwerkname des Druckers lässt sich nicht auflösen: Ist er eingeschaltet?",
      "No se pudo resolver el nombre de red de la impresora: ¿está encendida?",
      "Le nom réseau de l'imprimante n'a pas pu être résolu : est-elle allumée ?"}},
    {"add_no_answer",
     {"The printer did not answer; no queue was added.",
      "Der Drucker hat nicht geantwortet; keine Warteschlange angelegt.",
      "La impresora no respondió; no se añadió ninguna cola.",
      "L'imprimante n'a pas répondu ; aucune file n'a été ajoutée."}},
    {"add_kept",
     {"The printer did not answer, and removing its queue was refused: the log says how to remove "
      "it.",
      "Der Drucker hat nicht geantwortet, und das Entfernen seiner Warteschlange wurde abgelehnt: "
      "Das Log sagt, wie man sie entfernt.",
      "La impresora no respondió y se rechazó quitar su cola: el registro indica cómo quitarla.",
      "L'imprimante n'a pas répondu et la suppression de sa file a été refusée : le journal "
      "indique comment la supprimer."}},
    {"add_no_list",
     {"CUPS did not list its print queues (refused or no answer), so nothing was changed.",
      "CUPS hat seine Warteschlangen nicht aufgelistet (abgelehnt oder keine Antwort); es wurde "
      "nichts geändert.",
      "CUPS no mostró sus colas de impresión (rechazado o sin respuesta); no se cambió nada.",
      "CUPS n'a pas listé ses files d'impression (refus ou pas de réponse) ; rien n'a été "
      "modifié."}},
    {"add_failed",
     {"The printer was not added — see the log.",
      "Der Drucker wurde nicht hinzugefügt — siehe Log.",
      "La impresora no se añadió — vea el registro.",
      "L'imprimante n'a pas été ajoutée — voir le journal."}},
    // The graphics page: what the machine has and what fits it.
    {"gpu_none",
     {"No graphics card found.", "Keine Grafikkarte gefunden.",
      "No se encontró ninguna tarjeta gráfica.", "Aucune carte graphique trouvée."}},
    {"gpu_driver",
     {"driver in use: ", "Treiber in Benutzung: ", "controlador en uso: ", "pilote utilisé : "}},
    {"gpu_unbound",
     {"no driver in use", "kein Treiber in Benutzung", "ningún controlador en uso",
      "aucun pilote utilisé"}},
    {"gpu_recommended", {"recommended: ", "empfohlen: ", "recomendado: ", "recommandé : "}},
    {"gpu_mesa_only",
     {"no proprietary driver, Mesa (nouveau) drives it",
      "kein proprietärer Treiber, Mesa (nouveau) steuert sie",
      "sin controlador propietario, Mesa (nouveau) la gestiona",
      "pas de pilote propriétaire, Mesa (nouveau) la gère"}},
    {"gpu_installed", {"Installed: ", "Installiert: ", "Instalado: ", "Installé : "}},
    {"gpu_no_drivers",
     {"no graphics driver packages", "keine Grafiktreiber-Pakete",
      "ningún paquete de controlador gráfico", "aucun paquet de pilote graphique"}},
    {"gpu_restart",
     {"The new driver is used after a restart.",
      "Der neue Treiber wird nach einem Neustart verwendet.",
      "El nuevo controlador se usará después de reiniciar.",
      "Le nouveau pilote sera utilisé après un redémarrage."}},
    {"nv_module_missing",
     {"Driver will not load: no NVIDIA module for kernel ",
      "Treiber lädt nicht: kein NVIDIA-Modul für Kernel ",
      "El controlador no cargará: sin módulo NVIDIA para el kernel ",
      "Le pilote ne chargera pas : aucun module NVIDIA pour le noyau "}},
    {"nv_repair_btn", {"Repair", "Reparieren", "Reparar", "Réparer"}},
    {"nv_unsupported",
     {"The chosen driver does not support this computer's NVIDIA card",
      "Der gewählte Treiber unterstützt die NVIDIA-Karte dieses Computers nicht",
      "El controlador elegido no es compatible con la tarjeta NVIDIA de este equipo",
      "Le pilote choisi ne prend pas en charge la carte NVIDIA de cet ordinateur"}},
    {"nv_secure_boot",
     {"Secure Boot is on: the NVIDIA module that DKMS builds is unsigned and will not load "
      "unless signed.",
      "Secure Boot ist an: Das von DKMS gebaute NVIDIA-Modul ist nicht signiert und lädt nur "
      "signiert.",
      "Secure Boot está activado: el módulo NVIDIA que compila DKMS no está firmado y no se "
      "cargará sin firma.",
      "Secure Boot est activé : le module NVIDIA compilé par DKMS n'est pas signé et ne se "
      "chargera pas sans signature."}},
    {"nv_unavailable",
     {"The NVIDIA drivers are not available for this system (x86_64 with glibc only).",
      "Die NVIDIA-Treiber gibt es für dieses System nicht (nur x86_64 mit glibc).",
      "Los controladores de NVIDIA no están disponibles para este sistema (solo x86_64 con glibc).",
      "Les pilotes NVIDIA ne sont pas disponibles pour ce système (x86_64 avec glibc "
      "uniquement)."}},
    {"amd_desc_64",
     {"Mesa drivers & Vulkan support", "Mesa-Treiber & Vulkan-Support",
      "Controladores Mesa y soporte Vulkan", "Pilotes Mesa & support Vulkan"}},
    {"intel_desc_64",
     {"Mesa drivers & hardware acceleration (VA-API)",
      "Mesa-Treiber & Hardware-Beschleunigung (VA-API)",
      "Controladores Mesa y aceleración de hardware (VA-API)",
      "Pilotes Mesa & accélération matérielle (VA-API)"}},
}};

namespace {
using Texts = std::array<std::string_view, 4>;

constexpr Texts window_title = {"Void Linux System Setup", "Void Linux System-Setup",
                                "Configuración de Sistema de Void Linux",
                                "Configuration Système de Void Linux"};
constexpr Texts print_drivers_button = {
    "Install Selected Printer Drivers", "Ausgewählte Druckertreiber installieren",
    "Instalar controladores seleccionados", "Installer les pilotes d'imprimante sélectionnés"};
constexpr Texts scan_components_button = {
    "Install Selected Scanner Packages", "Ausgewählte Scanner-Pakete installieren",
    "Instalar paquetes de escaneo seleccionados", "Installer les paquets de scanner sélectionnés"};
constexpr Texts polkit_button = {
    "Setup Polkit Security Rules", "Sicherheitsregel (Polkit) für App einrichten",
    "Configurar regla de seguridad (Polkit)", "Configurer la règle de sécurité (Polkit)"};
constexpr Texts not_installed = {"Not installed", "Nicht installiert", "No instalado",
                                 "Non installé"};

constexpr std::size_t column(Lang lang) {
    return static_cast<std::size_t>(lang) & 3;
}
}  // namespace

std::string_view get_text(Lang lang, std::string_view key) {
    for (const auto& entry : catalogue)
        if (entry.key == key) return entry.text[column(lang)];
    return {};
}

std::string format_text(
    Lang lang, std::string_view key,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    std::string text(get_text(lang, key));
    for (const auto& [name, value] : values) {
        std::string field(1, '{');
        field.append(name).push_back('}');
        for (std::size_t at = text.find(field); at != std::string::npos;
             at = text.find(field, at + value.size()))
            text.replace(at, field.size(), value);
    }
    return text;
}

std::string_view window_title_text(Lang lang) {
    return window_title[column(lang)];
}
std::string_view print_drivers_button_text(Lang lang) {
    return print_drivers_button[column(lang)];
}
std::string_view scan_components_button_text(Lang lang) {
    return scan_components_button[column(lang)];
}
std::string_view polkit_button_text(Lang lang) {
    return polkit_button[column(lang)];
}
std::string_view not_installed_text(Lang lang) {
    return not_installed[column(lang)];
}

}  // namespace kelmora
