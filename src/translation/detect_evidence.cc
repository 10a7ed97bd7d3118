#include "translation/detect_evidence.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"

namespace quorvel {
namespace {

struct Alphabet {
  std::string_view tag;
  std::u32string_view letters;  // lower case
  std::u32string_view own;      // letters the others never or seldom write
};

constexpr Alphabet CYRILLIC_ALPHABETS[] = {
    {"ru", U"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", U"ёыэ"},
    {"uk", U"абвгґдеєжзиіїйклмнопрстуфхцчшщьюя", U"ґєії"},
    {"bg", U"абвгдежзийклмнопрстуфхцчшщъьюяѝ", U"ъѝ"},
    {"sr", U"абвгдђежзијклљмнњопрстћуфхцчџш", U"ђјљњћџ"},
};

bool is_cyrillic_letter(char32_t c) {
  return c >= 0x400 && c <= 0x4FF;
}

const Alphabet* alphabet_of(std::string_view tag) {
  for (const auto& a : CYRILLIC_ALPHABETS) {
    if (a.tag == tag) return &a;
  }
  return nullptr;
}

// Everyday words of the languages statistics confuse or cannot score on short texts:
// articles, prepositions, conjunctions, negation and the words software messages use most
// ("file", "error", "show", "new"). Words that elide before a vowel keep their apostrophe
// (l', d', n'); a final * takes every word that starts so (the inflected forms of a stem).
// Languages sharing a word share its weight, so only what sets a language apart decides.
struct WordList {
  std::string_view tag;
  std::string_view words;       // separated by spaces, lower case
  std::u32string_view letters;  // letters of its alphabet few others write
};

constexpr WordList WORD_LISTS[] = {
    {"en",
     "the of and to is in for not with this that be are from by an or it cannot could file "
     "files failed invalid unable you your show use new has have was will on at as all no "
     "error can't don't does which when a",
     U""},
    {"es",
     "el los las del al y que de la en por para con una un no es se su sus está este esta "
     "como más puede pueden archivo archivos nuevo nueva mostrar usar ya si sin desde hay "
     "todos cuando pudo error también pero muy hasta entre sobre ni lo le les sí aquí debe tiene "
     "hacer cambiar guardar abrir cerrar buscar ver nombre contraseña usuario página carpeta "
     "ventana opción opciones valor tamaño a o",
     U"ñ¿¡"},
    {"pt",
     "o os as da do das dos de e que em no na nos nas um uma para com não por ao à é está ser "
     "seu sua ficheiro arquivo arquivos ficheiros erro novo nova mostrar usar sem já pode você "
     "foi também mas muito até entre sobre nem lhe sim aqui deve tem fazer alterar guardar gravar "
     "salvar abrir fechar procurar ver nome senha utilizador usuário página pasta janela opção "
     "opções valor tamanho a",
     U"ãõç"},
    {"it",
     "il lo la gli le di del della dei delle e che un una per con non è in da al alla sono "
     "questo questa impossibile nuovo nuova mostra usa su più come se l' un' dell' all' nell' "
     "anche ma molto fino tra sopra né sì qui deve ha fare cambia salva apri chiudi cerca vedi "
     "nome utente pagina cartella finestra opzione opzioni valore dimensione a",
     U"ìò"},
    {"fr",
     "le la les de des du un une et en est pour pas ne que qui dans sur au aux avec ce cette "
     "vous il impossible fichier fichiers nouveau nouvelle afficher utiliser l' d' n' qu' s' "
     "c' j' erreur être aussi mais très jusqu' entre ni oui ici doit faire modifier enregistrer "
     "ouvrir fermer rechercher voir nom utilisateur page dossier fenêtre option options valeur "
     "taille",
     U"çêûœëîâ"},
    {"de",
     "der die das und ist nicht ein eine einen für mit von zu den dem des im auf kann konnte "
     "werden wird sie datei dateien fehler neue neuer anzeigen beim kein keine oder aus bei "
     "nach über sind",
     U"ßäöü"},
    {"pl",
     "nie się w z na do i jest że to dla od po lub być można plik pliku błąd nowy nowa "
     "wyświetl jak przez oraz już",
     U"łąęśźżćń"},
    {"no",
     "og i er ikke en et av til på for med som det den kan kunne fil filen feil ny nytt vis "
     "bruk velg innstillinger hva etter fra mappe ble noen deg meg seg hjelp søk ut opp verdi "
     "farge åpne lagre slett navn kan ikke være skal hvis eller men også denne dette disse bruker "
     "brukeren mapper filer legg åpn lukk innstilling passord vindu side størrelse skriv støttet "
     "ugyldig igjen mellom melding språk bruke søke kjøpe ta uke hvit nå endringer endre kontroll "
     "protokoll modell ressurs",
     U"øæå"},
    {"da",
     "og i er ikke en et af til på for med som det den kan kunne fil filen fejl ny nyt vis "
     "brug vælg indstillinger hvad efter fra mappe blev nogle dig mig sig hjælp søg ud op "
     "værdi farve åbne gem slet navn være skal hvis eller men også denne dette disse bruger "
     "brugeren mapper filer tilføj gemme åbn luk indstilling adgangskode vindue side størrelse "
     "udskriv understøttet ugyldig igen mellem besked sprog bruge søge købe tage uge hvid nu "
     "ændringer ændre kontrol protokol model ressource",
     U"øæå"},
    {"sv",
     "och i är inte en ett av till på för med som det den kan kunde fil filen fel ny nytt "
     "visa använd välj inställningar vad efter från mapp blev några dig mig sig hjälp sök ut "
     "upp värde färg öppna spara ta bort namn",
     U"äöå"},
    {"fi",
     "ja ei on se tai kun että tiedosto tiedostoa tiedoston virhe uusi näytä käytä ole voi "
     "jos kanssa mukaan tämä joka",
     U"äö"},
    {"tr",
     "ve bir bu için ile değil da de ne olarak dosya dosyası hata yeni göster kullan var yok "
     "olan çok gibi",
     U"ğışçöü"},
    {"nl",
     "de het een en van is niet in op te voor met dat die zijn kan kon bestand bestanden fout "
     "nieuw nieuwe tonen gebruik worden wordt geen bij naar uit of aan er",
     U""},
    {"hu",
     "a az és nem egy hogy van is meg fájl fájlt hiba új megjelenítése nincs vagy csak ki be "
     "sikertelen sikerült",
     U"őűáéö"},
    {"cs",
     "a je se v na s z do k že to pro nelze soubor souboru chyba nový nová zobrazit použít "
     "není jako od po nebo být které který",
     U"řůě"},
    {"sk",
     "a je sa v na s z do k že to pre nie nemožno súbor súboru chyba nový nová zobraziť "
     "použiť ako od po alebo byť ktoré ktorý",
     U"ľĺŕôä"},
    {"ro",
     "de la și în nu a cu pe un o este să se din pentru care fișier fișierul eroare nou nouă "
     "afișează poate sau mai",
     U"șțăâî"},
    {"sl",
     "in je se na v za z da ne ni so ki pa datoteka datoteke napaka nov nova prikaži uporabi "
     "lahko ali ko kot bo iz mogoče izberite spodletelo geslo nastavitve vrstice mape bi "
     "radi",
     U"čšž"},
    {"hr",
     "i je se na u za s da ne nije su koji što datoteka datoteke greška pogreška novi nova "
     "prikaži koristi može ili kao iz biti li tko gdje prije poslije vrijeme mjesto riječ "
     "spremi odaberi mapa izbornik gumb gumbi postavke sučelje poslužitelj direktorij tisuća dio "
     "cijeli bijeli lijevo uvijek primjer račun zadano točka nedjelja izmjene promjene vjerojatno "
     "razumjeti vidjeti spremanje spremiti spremljen* vrijednost* uvjet* promjen* prijenos* "
     "izvješ* obavijest* djelomi* sljedeć* svjetl* pojedinost* razlučivost* zaslon* tipkovnic* "
     "pisač* ispis* preglednik* zaporka tjed* mjesec*",
     U"čćđšž"},
    {"sr",
     "i je se na u za s da ne nije su koji šta ko datoteka datoteke greška novi nova prikaži "
     "koristi može ili kao iz biti li vreme mesto reč pre posle uspešno neuspešno sačuvaj "
     "izaberi fascikla dugme meni podešavanja hiljada direktorijum deo ceo beli levo uvek primer "
     "nalog podrazumevano tačka fajl fajla fajlove nedelja otpremi izmene promene verovatno "
     "razumeti videti čuvanje sačuvati sačuvan* vrednost* uslov* promen* prenos* izveštaj* "
     "obaveštenj* delimi* sledeć* osvetlj* detalj* rezolucij* ekran* tastatur* štampa* pregledač* "
     "interfejs* nedelj* mesec*",
     U"čćđšž"},
    {"ru",
     "и в не на с что это как для по из от или за файл ошибка удалось нет быть может можно "
     "все так уже если при только был была было новый новая показать перед после когда где "
     "здесь там пожалуйста",
     U""},
    {"uk",
     "і й в у не на з що це як для по від або за файл помилка вдалося немає бути може можна "
     "всі так вже якщо при тільки був була було новий нова показати та до перед після коли "
     "де тут там будь ласка",
     U""},
    {"bg",
     "и в не на с че това как за по от или файл грешка няма може е са се да ще във със който "
     "която което при само беше нов нова до си преди след кога къде тук там моля",
     U""},
    {"lt",
     "ir yra ne su į iš kad kaip failas failo klaida naujas nauja rodyti naudoti nėra nepavyko "
     "arba bet jei",
     U"ąčęėįšųūž"},
    {"lv",
     "un ir ne ar uz no kas ka par vai fails faila kļūda jauns jauna rādīt lietot nav "
     "neizdevās lai kā",
     U"āčēģīķļņšūž"},
    {"et", "ja on ei see et või kui mis fail faili viga uus näita kasuta pole saa ning kas",
     U"õäöü"},
    {"vi", "của và là không có một các cho được trong với tập tin lỗi mới hiển thị dùng này đã để",
     U"ăâđêôơư"},
    {"id",
     "dan yang di ke dari untuk dengan tidak ini itu adalah dapat berkas galat kesalahan baru "
     "tampilkan gunakan tak akan pada atau gagal",
     U""},
    {"zu",
     "futhi kanye uku nge ayikwazanga ifayela iphutha entsha bonisa sebenzisa ngaphambi lokhu "
     "kwe",
     U""},
    {"ca",
     "el els la les de del dels i que en per amb no és un una es al als fitxer fitxers error "
     "nou nova mostra utilitza pot ha han aquest aquesta cap més o l' d' s' n' també però molt "
     "fins entre sobre ni ho sí aquí té fer canviar desa obre tanca cerca veure nom contrasenya "
     "usuari pàgina carpeta finestra opció opcions valor mida a",
     U"ŀ"},
};

bool is_apostrophe(char32_t c) {
  return c == U'\'' || c == U'\u2019';
}

// Lower-case words made of letters; a word directly followed by an apostrophe keeps it.
std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for_each_char(text, [&](char32_t c) {
    if (is_alphabetic(c)) {
      append_utf8(word, to_lower(c));
    } else if (is_apostrophe(c) && !word.empty()) {
      word += '\'';
      flush();
    } else {
      flush();
    }
  });
  flush();
  return words;
}

bool lists_word(const WordList& list, std::string_view word) {
  std::size_t pos = 0;
  while (pos < list.words.size()) {
    std::size_t end = list.words.find(' ', pos);
    if (end == std::string_view::npos) end = list.words.size();
    std::string_view entry = list.words.substr(pos, end - pos);
    if (entry == word) return true;
    if (entry.ends_with('*') && word.starts_with(entry.substr(0, entry.size() - 1))) return true;
    pos = end + 1;
  }
  return false;
}

const WordList* word_list_of(std::string_view tag) {
  for (const auto& list : WORD_LISTS) {
    if (list.tag == tag) return &list;
  }
  return nullptr;
}

// Word endings that mark a language's nouns, participles and adverbs (Spanish -ción,
// Portuguese -ção, Danish -hed against Norwegian -het, Croatian -irati, -jeti against
// Serbian -isati, -eti).
struct EndingList {
  std::string_view tag;
  std::string_view endings;  // separated by spaces
};

constexpr EndingList WORD_ENDINGS[] = {
    {"en", "tion tions ing ed ly ness ment able"},
    {"es", "ción ciones dad dades ado ada ados adas ido ida idos idas ando iendo mente"},
    {"pt", "ção ções dade dades ado ada ados adas ido ida idos idas ão ões ando endo mente"},
    {"ca", "ció cions tat tats at ada ats ades"},
    {"it", "zione zioni tà ato ata ati ate ando endo mente"},
    {"fr", "tion tions té tés ée ées és ment eur eurs"},
    {"da", "hed heder ede else tion tionen tioner erne"},
    {"no", "het heter else sjon sjonen sjoner ene"},
    {"sv", "het heter else ning ningar tion tionen tioner erna arna"},
    {"hr", "irati iran irana irani irano jeti ješno ješna"},
    {"sr", "isati isan isana isani isano ovan ovana ovani ovano eti ešno ešna"},
};

// The byte length of the longest of `tag`'s endings that ends `word` and is shorter than it.
std::size_t listed_ending(std::string_view tag, std::string_view word) {
  std::size_t longest = 0;
  for (const auto& list : WORD_ENDINGS) {
    if (list.tag != tag) continue;
    std::size_t pos = 0;
    while (pos < list.endings.size()) {
      std::size_t end = list.endings.find(' ', pos);
      if (end == std::string_view::npos) end = list.endings.size();
      std::string_view ending = list.endings.substr(pos, end - pos);
      if (ending.size() < word.size() && word.ends_with(ending)) {
        longest = std::max(longest, ending.size());
      }
      pos = end + 1;
    }
  }
  return longest;
}

bool are_kin(std::span<const LanguageGroup> kin, std::string_view a, std::string_view b) {
  for (const auto& group : kin) {
    bool has_a = std::find(group.begin(), group.end(), a) != group.end();
    bool has_b = std::find(group.begin(), group.end(), b) != group.end();
    if (has_a && has_b) return true;
  }
  return false;
}

// Adds one point for a feature, split among the candidates that share it.
void share_point(std::vector<double>& scores, const std::vector<bool>& has, double point) {
  auto holders = std::count(has.begin(), has.end(), true);
  if (holders == 0) return;
  for (std::size_t i = 0; i < has.size(); ++i) {
    if (has[i]) scores[i] += point / static_cast<double>(holders);
  }
}

}  // namespace

bool lacks_letters_of(std::string_view tag, std::string_view text) {
  const Alphabet* alphabet = alphabet_of(tag);
  if (!alphabet) return false;
  std::size_t cyrillic = 0;
  std::size_t foreign = 0;
  for_each_char(text, [&](char32_t c) {
    if (!is_cyrillic_letter(c)) return;
    ++cyrillic;
    if (alphabet->letters.find(to_lower(c)) == std::u32string_view::npos) ++foreign;
  });
  // One letter in fifty: a short message shows its alphabet in one letter, a long text may
  // quote a name.
  return foreign > 0 && foreign * 50 >= cyrillic;
}

std::string_view cyrillic_language_by_letters(std::string_view text) {
  std::string_view best = "ru";
  std::size_t best_count = 0;
  for (const auto& alphabet : CYRILLIC_ALPHABETS) {
    if (lacks_letters_of(alphabet.tag, text)) continue;
    std::size_t own = 0;
    for_each_char(text, [&](char32_t c) {
      if (alphabet.own.find(to_lower(c)) != std::u32string_view::npos) ++own;
    });
    if (own > best_count) {
      best = alphabet.tag;
      best_count = own;
    }
  }
  if (best_count > 0) return best;
  // No letter decides: the everyday words may, among the alphabets that fit.
  std::vector<std::string_view> fitting;
  for (const auto& alphabet : CYRILLIC_ALPHABETS) {
    if (!lacks_letters_of(alphabet.tag, text)) fitting.push_back(alphabet.tag);
  }
  return language_by_words(text, fitting).value_or(best);
}

std::optional<std::string_view> language_by_words(std::string_view text,
                                                  std::span<const std::string_view> among,
                                                  std::span<const LanguageGroup> kin, VoteBar bar) {
  std::vector<const WordList*> lists;
  for (auto tag : among) {
    if (const WordList* list = word_list_of(tag)) lists.push_back(list);
  }
  if (lists.size() < 2) return std::nullopt;

  std::vector<double> scores(lists.size(), 0.0);
  std::vector<bool> has(lists.size());
  for (const auto& word : words_of(text)) {
    for (std::size_t i = 0; i < lists.size(); ++i) has[i] = lists_word(*lists[i], word);
    share_point(scores, has, 1.0);
    // The ending says less than the word, but reaches the words no list holds.
    std::size_t longest = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      longest = std::max(longest, listed_ending(lists[i]->tag, word));
    }
    if (longest == 0) continue;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      has[i] = listed_ending(lists[i]->tag, word) == longest;
    }
    share_point(scores, has, 0.5);
  }
  // A letter few alphabets have is weaker evidence than a word: names and borrowed words
  // carry them too.
  for_each_char(text, [&](char32_t c) {
    if (c < 0x80 || !is_alphabetic(c)) return;
    char32_t l = to_lower(c);
    for (std::size_t i = 0; i < lists.size(); ++i) {
      has[i] = lists[i]->letters.find(l) != std::u32string_view::npos;
    }
    share_point(scores, has, 0.5);
  });

  std::size_t best = 0;
  for (std::size_t i = 1; i < scores.size(); ++i) {
    if (scores[i] > scores[best]) best = i;
  }
  double runner_up = 0;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    if (i != best && !are_kin(kin, lists[i]->tag, lists[best]->tag)) {
      runner_up = std::max(runner_up, scores[i]);
    }
  }
  if (scores[best] < bar.minimum || scores[best] - runner_up < bar.margin) return std::nullopt;
  return lists[best]->tag;
}

}  // namespace quorvel
