#include "agent/framework/print_info.h"

CPrintInfo::CPrintInfo() {
  m_pd.lStructSize = sizeof m_pd;
  m_pd.Flags = PD_ALLPAGES | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOPAGENUMS | PD_HIDEPRINTTOFILE | PD_NOSELECTION |
               PD_RETURNDC;
  m_pd.nMinPage = 1;
  m_pd.nMaxPage = 0xFFFF;
  m_pd.nFromPage = 1;
  m_pd.nToPage = 0xFFFF;
}

CPrintInfo::~CPrintInfo() {
  // hDevMode and hDevNames belong to the application (its printer choice); the DC is ours.
  if (m_pd.hDC) ::DeleteDC(m_pd.hDC);
}
