// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/demo_store/demo_contacts.h"

namespace demo {

std::vector<std::pair<std::string, std::string>> DemoContactFiles() {
  return {
      {"1b9e5a70-0001-4d6e-9f51-4f0a7c2e0001.vcf",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:1b9e5a70-0001-4d6e-9f51-4f0a7c2e0001\r\n"
       "FN:Nora Quill\r\nN:Quill;Nora;;;\r\nEMAIL;TYPE=INTERNET,PREF:nora.quill@example.org\r\n"
       "EMAIL;TYPE=INTERNET:nora@home.example.net\r\nTEL;TYPE=WORK,VOICE:+44 20 7946 0101\r\n"
       "TEL;TYPE=CELL:+44 7700 900101\r\nORG:Quill & Ledger Ltd;Accounts\r\nTITLE:Bookkeeper\r\n"
       "X-EVOLUTION-OFFICE:2nd floor\r\nURL;TYPE=WORK:https://quill.example.org/\r\n"
       "ADR;TYPE=WORK:;;12 Harbour Row;Bristol;;BS1 4QA;United Kingdom\r\nEND:VCARD\r\n"},
      {"1b9e5a70-0002-4d6e-9f51-4f0a7c2e0002.vcf",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:1b9e5a70-0002-4d6e-9f51-4f0a7c2e0002\r\n"
       "FN:Tom\xC3\xA1s Ferreira\r\nN:Ferreira;Tom\xC3\xA1s;;;\r\n"
       "EMAIL;TYPE=INTERNET:tomas.ferreira@example.com\r\nTEL;TYPE=HOME,VOICE:+351 21 000 0202\r\n"
       "TEL;TYPE=HOME,FAX:+351 21 000 0203\r\nURL:https://tomas.example.com/\r\n"
       "BDAY:1984-02-29\r\nNOTE:Prefers calls after six.\r\nEND:VCARD\r\n"},
      {"1b9e5a70-0003-4d6e-9f51-4f0a7c2e0003.vcf",
       "BEGIN:VCARD\nVERSION:4.0\nUID:urn:uuid:1b9e5a70-0003-4d6e-9f51-4f0a7c2e0003\n"
       "FN:Mei Tanaka\nN:Tanaka;Mei;;;\nEMAIL;TYPE=work;PREF=1:mei.tanaka@example.jp\n"
       "TEL;VALUE=uri;TYPE=work,voice:tel:+81-3-0000-0303\n"
       "TEL;VALUE=uri;TYPE=pager:tel:+81-3-0000-0304\nORG:Tanaka Works;Design\n"
       "TITLE:Art Director\nEND:VCARD\n"},
      {"1b9e5a70-0004-4d6e-9f51-4f0a7c2e0004.vcf",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:1b9e5a70-0004-4d6e-9f51-4f0a7c2e0004\r\n"
       "FN:Olu Adeyemi\r\nN:Adeyemi;Olu;;;\r\nitem1.EMAIL;TYPE=INTERNET:olu@example.ng\r\n"
       "item1.X-ABLabel:_$!<Other>!$_\r\nTEL;TYPE=CELL:+234 800 000 0404\r\n"
       "X-SOCIALPROFILE;TYPE=example:olu\r\nEND:VCARD\r\n"},
      // One file holding several cards, as an export writes it.
      {"exported-team.vcf",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:team-1\r\nFN:Ines Duarte\r\n"
       "EMAIL;TYPE=INTERNET:ines.duarte@example.org\r\nTEL;TYPE=WORK,VOICE:+1 555 0141\r\n"
       "ORG:Example Org;Support\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:team-2\r\nFN:Karl Berg\r\n"
       "EMAIL;TYPE=INTERNET:karl.berg@example.org\r\nTEL;TYPE=WORK,FAX:+1 555 0142\r\n"
       "ORG:Example Org;Support\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:team-3\r\nFN:Lena Fox\r\n"
       "EMAIL;TYPE=INTERNET:lena.fox@example.org\r\nURL;TYPE=HOME:https://lena.example.org/\r\n"
       "END:VCARD\r\n"},
      // A group: a distribution list, not a contact to export.
      {"group-support.vcf",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:group-support\r\nKIND:group\r\nFN:Support team\r\n"
       "MEMBER:urn:uuid:team-1\r\nMEMBER:urn:uuid:team-2\r\nEND:VCARD\r\n"},
      // vCard 2.1 from an older phone: Latin-1, quoted-printable, a soft break.
      {"legacy-phone.vcf",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J="
       "FCrgen\r\n"
       "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen M=FCller-L=FCden=\r\nscheid\r\n"
       "TEL;WORK;VOICE:+49 30 000 0505\r\nTEL;CELL:+49 170 000 0506\r\n"
       "EMAIL;INTERNET:juergen@example.de\r\nEND:VCARD\r\n"},
  };
}

}  // namespace demo
