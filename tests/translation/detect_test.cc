#include "translation/detect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "translation/languages.h"

namespace quorvel {
namespace {

struct Sample {
  std::string_view tag;
  std::string_view text;
};

// Real sentences, two per language where the statistics decide (one for the languages whose
// script alone decides), in the order of the detector's table; Russian and Ukrainian get a
// third pair because they share most of their letters and many short words.
constexpr Sample SENTENCES[] = {
    {"en", "The weather is lovely today, so we are going for a walk in the park."},
    {"en", "Please save your changes before closing the document."},
    {"ru", "Сегодня прекрасная погода, поэтому мы пойдём гулять в парк."},
    {"ru", "Пожалуйста, сохраните изменения перед закрытием документа."},
    {"zh", "今天天气很好，我们去公园散步吧。"},
    {"zh", "请在关闭文档之前保存您的更改。"},
    {"es", "Hoy hace un tiempo estupendo, así que vamos a dar un paseo por el parque."},
    {"es", "Por favor, guarde los cambios antes de cerrar el documento."},
    {"pt", "Hoje está um dia lindo, por isso vamos passear no parque com as crianças."},
    {"pt", "Por favor, salve as suas alterações antes de fechar o documento."},
    {"it", "Oggi il tempo è bellissimo, quindi andiamo a fare una passeggiata nel parco."},
    {"it", "Per favore, salva le modifiche prima di chiudere il documento."},
    {"bn", "আজ আবহাওয়া খুব সুন্দর, তাই আমরা পার্কে হাঁটতে যাচ্ছি।"},
    {"fr", "Il fait très beau aujourd'hui, alors nous allons nous promener dans le parc."},
    {"fr", "Veuillez enregistrer vos modifications avant de fermer le document."},
    {"de", "Heute ist das Wetter wunderschön, deshalb gehen wir im Park spazieren."},
    {"de", "Bitte speichern Sie Ihre Änderungen, bevor Sie das Dokument schließen."},
    {"uk", "Сьогодні чудова погода, тому ми підемо гуляти в парк разом із дітьми."},
    {"uk", "Будь ласка, збережіть зміни перед тим, як закрити документ."},
    {"ru", "Я не знаю, где он сейчас живёт."},
    {"uk", "Я не знаю, де він зараз живе."},
    {"ar", "الطقس جميل جدا اليوم، لذلك سنذهب للتنزه في الحديقة."},
    {"ar", "يرجى حفظ التغييرات قبل إغلاق المستند."},
    {"hi", "आज मौसम बहुत अच्छा है, इसलिए हम पार्क में टहलने जा रहे हैं।"},
    {"hi", "कृपया दस्तावेज़ बंद करने से पहले अपने बदलाव सहेजें।"},
    {"ja", "今日はとても良い天気なので、公園を散歩しましょう。"},
    {"ja", "ドキュメントを閉じる前に変更を保存してください。"},
    {"he", "מזג האוויר היום נפלא, אז אנחנו הולכים לטייל בפארק."},
    {"pl", "Dzisiaj jest piękna pogoda, więc idziemy na spacer do parku."},
    {"pl", "Przed zamknięciem dokumentu zapisz wprowadzone zmiany."},
    {"ko", "오늘은 날씨가 정말 좋아서 공원에 산책하러 갑니다."},
    {"no", "Vi har ikke hatt så fint vær på lenge, så nå skal vi gå en tur i skogen."},
    {"no", "Husk å lagre endringene dine før du lukker dokumentet."},
    {"da", "Vejret er dejligt i dag, så vi går en tur i parken med børnene."},
    {"da", "Husk at gemme dine ændringer, før du lukker dokumentet."},
    {"sv", "Vädret är underbart idag, så vi ska ta en promenad i parken med barnen."},
    {"sv", "Kom ihåg att spara dina ändringar innan du stänger dokumentet."},
    {"fi", "Tänään on kaunis sää, joten lähdemme kävelylle puistoon lasten kanssa."},
    {"fi", "Muista tallentaa muutokset ennen kuin suljet asiakirjan."},
    {"tr", "Bugün hava çok güzel, bu yüzden çocuklarla parkta yürüyüşe çıkacağız."},
    {"tr", "Lütfen belgeyi kapatmadan önce değişikliklerinizi kaydedin."},
    {"nl", "Het is vandaag prachtig weer, dus we gaan een wandeling maken in het park."},
    {"nl", "Sla uw wijzigingen op voordat u het document sluit."},
    {"hu", "Ma gyönyörű idő van, ezért sétálni megyünk a parkba a gyerekekkel."},
    {"hu", "Kérjük, mentse a módosításokat, mielőtt bezárja a dokumentumot."},
    {"cs", "Dnes je krásné počasí, takže se půjdeme projít do parku s dětmi."},
    {"cs", "Před zavřením dokumentu prosím uložte své změny."},
    {"el", "Σήμερα ο καιρός είναι υπέροχος, οπότε θα πάμε βόλτα στο πάρκο."},
    {"bg", "Днес времето е прекрасно, затова ще отидем на разходка в парка с децата."},
    {"bg", "Моля, запазете промените си, преди да затворите документа."},
    {"mr", "आज हवामान खूप छान आहे, म्हणून आम्ही बागेत फिरायला जात आहोत."},
    {"mr", "कृपया दस्तऐवज बंद करण्यापूर्वी तुमचे बदल जतन करा."},
    {"kn", "ಇಂದು ಹವಾಮಾನ ತುಂಬಾ ಚೆನ್ನಾಗಿದೆ, ಆದ್ದರಿಂದ ನಾವು ಉದ್ಯಾನವನಕ್ಕೆ ಹೋಗುತ್ತಿದ್ದೇವೆ."},
    {"ro", "Astăzi vremea este minunată, așa că mergem la o plimbare în parc cu copiii."},
    {"ro", "Vă rugăm să salvați modificările înainte de a închide documentul."},
    {"sl", "Danes je čudovito vreme, zato gremo z otroki na sprehod v park."},
    {"sl", "Preden zaprete dokument, shranite svoje spremembe."},
    {"hr", "Danas je prekrasno vrijeme, pa idemo u šetnju parkom s djecom."},
    {"hr", "Molimo vas da spremite promjene prije zatvaranja dokumenta."},
    {"sr", "Данас је лепо време, па идемо у шетњу у парк са децом."},
    {"sr", "Молимо вас да сачувате измене пре него што затворите документ."},
    {"lt", "Šiandien labai graži diena, todėl einame pasivaikščioti į parką su vaikais."},
    {"lt", "Prieš uždarydami dokumentą, išsaugokite savo pakeitimus."},
    {"lv", "Šodien ir brīnišķīgs laiks, tāpēc mēs ejam pastaigāties parkā ar bērniem."},
    {"lv", "Lūdzu, saglabājiet izmaiņas pirms dokumenta aizvēršanas."},
    {"et", "Täna on ilus ilm, seega läheme lastega pargis jalutama."},
    {"et", "Palun salvestage oma muudatused enne dokumendi sulgemist."},
    {"ta", "இன்று வானிலை மிகவும் அருமையாக உள்ளது, எனவே நாங்கள் பூங்காவிற்கு நடக்கப் போகிறோம்."},
    {"vi", "Hôm nay trời rất đẹp, vì vậy chúng tôi sẽ đi dạo trong công viên."},
    {"vi", "Vui lòng lưu các thay đổi của bạn trước khi đóng tài liệu."},
    {"ur", "آج موسم بہت اچھا ہے، اس لیے ہم پارک میں سیر کرنے جا رہے ہیں۔"},
    {"ur", "براہ کرم دستاویز بند کرنے سے پہلے اپنی تبدیلیاں محفوظ کریں۔"},
    {"th", "วันนี้อากาศดีมาก เราจะไปเดินเล่นที่สวนสาธารณะ แล้วกินข้าวเย็นที่บ้าน"},
    {"gu", "આજે હવામાન ખૂબ સરસ છે, તેથી અમે બગીચામાં ફરવા જઈએ છીએ."},
    {"pa", "ਅੱਜ ਮੌਸਮ ਬਹੁਤ ਵਧੀਆ ਹੈ, ਇਸ ਲਈ ਅਸੀਂ ਪਾਰਕ ਵਿੱਚ ਸੈਰ ਕਰਨ ਜਾ ਰਹੇ ਹਾਂ।"},
    {"id",
     "Hari ini cuacanya sangat bagus, jadi kami akan berjalan-jalan di taman bersama anak-anak."},
    {"id", "Silakan simpan perubahan Anda sebelum menutup dokumen."},
    {"te", "ఈ రోజు వాతావరణం చాలా బాగుంది, కాబట్టి మేము పార్కులో నడవడానికి వెళ్తున్నాము."},
    {"fa",
     "امروز هوا خیلی خوب است، بنابراین ما برای قدم زدن به پارک "
     "می‌رویم."},
    {"fa", "لطفاً پیش از بستن سند، تغییرات خود را ذخیره کنید."},
    {"ml", "ഇന്ന് കാലാവസ്ഥ വളരെ നല്ലതാണ്, അതിനാൽ ഞങ്ങൾ പാർക്കിൽ നടക്കാൻ പോകുന്നു."},
    {"zu", "Namuhla isimo sezulu sihle kakhulu, ngakho-ke sizohamba epaki nezingane."},
    {"zu", "Sicela ulondoloze izinguquko zakho ngaphambi kokuvala idokhumenti."},
    {"sk", "Dnes je krásne počasie, a preto sa ideme s deťmi prejsť do parku."},
    {"sk", "Pred zatvorením dokumentu si, prosím, uložte svoje zmeny."},
    {"ca", "Avui fa un temps magnífic, així que anirem a passejar pel parc amb els nens."},
    {"ca", "Si us plau, deseu els canvis abans de tancar el document."},
};

// Three to five words: the shortest texts the detector judges without a script of its own.
constexpr Sample SHORT_PHRASES[] = {
    {"en", "See you tomorrow morning"},
    {"en", "Open the file menu"},
    {"de", "Wo ist der Bahnhof?"},
    {"de", "Ich habe keine Zeit"},
    {"fr", "Où est la gare ?"},
    {"fr", "Je ne sais pas"},
    {"es", "Dónde está la estación"},
    {"es", "No tengo tiempo hoy"},
    {"it", "Dov'è la stazione ferroviaria?"},
    {"pt", "Onde fica a estação?"},
    {"ru", "Где находится вокзал?"},
    {"uk", "Де знаходиться вокзал?"},
    {"pl", "Gdzie jest dworzec kolejowy?"},
    {"nl", "Waar is het station?"},
    {"sv", "Var ligger tågstationen någonstans?"},
    {"tr", "Tren istasyonu nerede acaba?"},
    {"cs", "Kde je nádraží prosím?"},
    {"fi", "Missä on rautatieasema, kiitos?"},
    {"hu", "Hol van a vasútállomás?"},
    {"ro", "Unde este gara, vă rog?"},
    {"id", "Di mana stasiun kereta?"},
    {"vi", "Nhà ga ở đâu vậy?"},
};

// The statistics are not perfect on single sentences, so each table must reach an accuracy
// floor; every miss is printed to show where the identifier falls short.
double accuracy(std::span<const Sample> table) {
  int right = 0;
  for (const auto& [tag, text] : table) {
    auto got = detect_source_language(text);
    if (got == tag) {
      ++right;
    } else {
      std::printf("  miss: expected %s, got %s: %s\n", std::string(tag).c_str(),
                  got.value_or("nothing").c_str(), std::string(text).c_str());
    }
  }
  std::printf("detection accuracy: %d of %zu\n", right, table.size());
  return static_cast<double>(right) / static_cast<double>(table.size());
}

TEST(DetectSourceLanguage, IdentifiesMostSentences) {
  EXPECT_GE(accuracy(SENTENCES), 0.9);
}

TEST(DetectSourceLanguage, IdentifiesMostShortPhrases) {
  EXPECT_GE(accuracy(SHORT_PHRASES), 0.8);
}

TEST(DetectSourceLanguage, EveryLanguageOfTheTableIsFoundInItsOwnSentence) {
  for (const auto& row : DETECTOR_LANGUAGE_TAGS) {
    bool found = false;
    for (const auto& [tag, text] : SENTENCES) {
      if (tag == row.tag && detect_source_language(text) == tag) found = true;
    }
    EXPECT_TRUE(found) << row.name;
  }
}

struct EdgeCase {
  std::string_view what;
  std::string_view text;
  std::optional<std::string_view> tag;
};

TEST(DetectSourceLanguage, EdgeCases) {
  const EdgeCase cases[] = {
      {"empty", "", std::nullopt},
      {"white space only", " \t\n\u3000", std::nullopt},
      {"two English words", "Hello world", std::nullopt},
      {"two English words padded", "  Good morning\n", std::nullopt},
      {"numbers and punctuation", "12 + 30 = 42 ; 7", std::nullopt},
      {"two-character Japanese", "はい", "ja"},
      {"two-character Katakana", "テスト", "ja"},
      {"two-character Korean", "안녕", "ko"},
      {"one Chinese word", "中国", "zh"},
      {"Kanji with kana is Japanese", "東京都庁の展望台", "ja"},
      {"Traditional Chinese", "我們今天去公園散步，因為天氣很好。", "zh"},
      {"Russian", "Мы поедем завтра утром на море.", "ru"},
      {"Ukrainian", "Ми поїдемо завтра вранці на море.", "uk"},
      {"Greek by its script, however short", "Καλημέρα σας φίλοι", "el"},
      {"Hebrew by its script", "שלום לכולם חברים", "he"},
      {"Latin letters outnumber one Greek word",
       "The letter alpha is written α in most of the texts", "en"},
      {"Norwegian Nynorsk is reported as Norwegian",
       "Eg veit ikkje kva eg skal gjera no, men eg skal tenkja på det i kveld.", "no"},
      {"Bosnian is reported as Croatian",
       "Danas je prekrasno vrijeme, pa idemo u šetnju parkom s djecom.", "hr"},
      {"invalid UTF-8", "Hello \xff\xfe world again", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = detect_source_language(c.text);
    EXPECT_EQ(got, c.tag) << c.what;
  }
}

// Short interface messages where CLD2 alone goes wrong, each with the rule that rights it.
TEST(DetectSourceLanguage, ShortMessagesCld2AloneGetsWrong) {
  const EdgeCase cases[] = {
      {"Thai, one space-separated piece", "บันทึกไฟล์", "th"},
      {"Han around Latin file names", "无法创建 RUNPATH/RPATH 的副本", "zh"},
      {"Han after a quoted command", "“git apply --cached” 失敗", "zh"},
      {"Zulu that CLD2 calls Xhosa", "Ukunqamula kwevolumu ephantsi.", "zu"},
      {"Bulgarian ъ, which Serbian lacks", "Търсене на дума или фраза в документа", "bg"},
      {"Ukrainian є, which Serbian lacks", "Файл є надто великим", "uk"},
      {"Bulgarian words CLD2 calls Serbian",
       "Моля, запазете промените си, преди да затворите документа.", "bg"},
      {"Russian CLD2 cannot score", "Управление недавно использовавшимися элементами", "ru"},
      {"French CLD2 calls English", "Impossible de fermer l'entrée standard", "fr"},
      {"Italian CLD2 calls English", "Inserisci la tua nuova password", "it"},
      {"German CLD2 calls English", "[Nicht die Installationskandidat-Version]", "de"},
      {"Spanish CLD2 calls English", "Mostrar la barra lateral", "es"},
      {"Catalan CLD2 calls Spanish", "No es pot expulsar «%s»", "ca"},
      {"Spanish CLD2 calls Galician", "la mayoría de las localidades", "es"},
      {"Danish CLD2 calls Norwegian", "Kunne ikke åbne filen: ugyldig værdi", "da"},
      {"English stays English", "Open the file in a new window", "en"},
      {"Latin option names in a Russian message",
       "Не удалось выполнить git --reject-regex --no-verify", "ru"},
      {"two Greek words are still too few", "Άνοιγμα αρχείου", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(detect_source_language(c.text), c.tag) << c.what;
  }
}

// CLD2 rejects a text holding a control character and then writes none of its results; what
// an earlier call left behind must not come back as this text's language.
TEST(DetectSourceLanguage, ATextCld2RejectsGetsNoLeftoverAnswer) {
  ASSERT_EQ(detect_source_language("Heute ist das Wetter wunderschön, deshalb gehen wir aus."),
            "de");
  EXPECT_EQ(detect_source_language("Zorp quibble flanx\x01 wemble trazz"), std::nullopt);
}

TEST(DetectSourceLanguage, NeverReportsALanguageOffTheList) {
  const std::string_view texts[] = {
      "Magandang umaga sa inyong lahat, mga kaibigan ko.",          // Tagalog
      "Saya suka makan nasi goreng di rumah bersama keluarga.",     // Malay
      "Habari za asubuhi, rafiki yangu mpendwa, karibu nyumbani.",  // Swahili
      "Bore da, sut wyt ti heddiw? Mae hi'n braf iawn.",            // Welsh
      "Góðan daginn, hvernig hefur þú það í dag?",                  // Icelandic
  };
  for (auto text : texts) {
    auto got = detect_source_language(text);
    if (!got) continue;
    bool listed = false;
    for (const auto& row : DETECTOR_LANGUAGE_TAGS) listed = listed || row.tag == *got;
    EXPECT_TRUE(listed) << *got << " for " << text;
  }
}

TEST(DetectSourceLanguage, JudgesAGiantParagraphFromItsBeginning) {
  std::string text;
  while (text.size() < 3'000'000) text += "The quick brown fox jumps over the lazy dog. ";
  EXPECT_EQ(detect_source_language(text), "en");
}

TEST(DetectorLanguageTags, EveryTagHasAPromptName) {
  for (const auto& row : DETECTOR_LANGUAGE_TAGS) {
    EXPECT_EQ(canonical_language_tag(row.tag), row.tag) << row.name;
    EXPECT_TRUE(translategemma_language_name(row.tag).has_value()) << row.name;
    EXPECT_EQ(row.iso639_3.size(), 3u) << row.name;
    for (const auto& other : DETECTOR_LANGUAGE_TAGS) {
      if (&other != &row) {
        EXPECT_NE(other.tag, row.tag);
      }
    }
  }
}

TEST(SourceTagFor, PrefersTheRequestThenDetectionThenEnglish) {
  const std::string german = "Heute ist das Wetter wunderschön, deshalb gehen wir spazieren.";
  EXPECT_EQ(source_tag_for({"fr", "pt-BR"}, german), "pt-BR");
  EXPECT_EQ(source_tag_for({"fr", ""}, german), "");
  EXPECT_EQ(source_tag_for({"fr", std::nullopt}, german), "de");
  EXPECT_EQ(source_tag_for({"fr", std::nullopt}, "Hi there"), "en");
  EXPECT_EQ(source_tag_for({"fr", std::nullopt}, ""), "en");
}

}  // namespace
}  // namespace quorvel
