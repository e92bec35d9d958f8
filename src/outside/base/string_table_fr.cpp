// string_table_fr.cpp - the library's own texts (French), ids 22001 to 22048.
//
// Texts are kept exactly as the user has always seen them, spacing included (the double space
// of 22030 and the trailing spaces of 22030, 22034 to 22036 and 22039 are deliberate).
// Ids 22002, 22004, 22023 to 22028, 22037, 22038, 22041 and 22042 have no text.
#include "base/texts.h"

namespace {

constexpr TEntradaText kFrancais[] = {
    {22001, L"TIFF"},
    {22003, L"TIFF Compressé (LZW)"},
    {22005, L"GIF"},
    {22006, L"Image de LeadTools®"},
    {22007, L"Windows BMP"},
    {22008, L"Windows BMP compressé (RLE)"},
    {22009, L"Kodak PhotoCD®"},
    {22010, L"ZSoft® Paintbrush"},
    {22011, L"Adobe® Photoshop"},
    {22012, L"Targa"},
    {22013, L"JPEG YUV 4:4:4"},
    {22014, L"JPEG YUV 4:2:2"},
    {22015, L"JPEG YUV 4:1:1"},
    {22016, L"TIFF JPEG YUV 4:4:4"},
    {22017, L"TIFF JPEG YUV 4:2:2"},
    {22018, L"TIFF JPEG YUV 4:1:1"},
    {22019, L"Inconnue (n° %i)"},
    {22020, L"Dimension"},
    {22021, L"DPI"},
    {22022, L"Bits par Pixel"},
    {22029, L"Échec dû à une cause inconnue"},
    {22030, L"Mémoire insuffisante pour  l'opération "},
    {22031, L"Aucune source de données"},
    {22032, L"DS est connecté au plus grand nombre possible d'apps"},
    {22033, L"DS ou DSM a reporté une erreur"},
    {22034, L"Opération non supportée "},
    {22035, L"Système de communication non reconnu "},
    {22036, L"Paramètre invalide "},
    {22039, L"Opération annulée "},
    {22040, L"Erreur TWAIN inconnue (%i)"},
    {22043, L"Kodak PhotoCD"},
    {22044, L"Chosissez la Résolution de l'Image:"},
    {22045, L"Espace colorimétrique"},
    {22046, L"Multicouche"},
    {22047, L"Échelle de gris"},
    {22048, L"Monochrome"},
};

} // namespace

const TEntradaText* GetTaulaTextosFrancesa(std::size_t& count)
{
    count = sizeof kFrancais / sizeof kFrancais[0];
    return kFrancais;
}
