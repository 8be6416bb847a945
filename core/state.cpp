// Storage of the solver state (see state.h for the meaning of each array).
#include "state.h"

namespace quarel {

GridArray xg, yg, xgs, ygs, aji, g11i, g12i, g22i, ajj, g11j, g12j, g22j, phi, phis, rhoi, rsi,
    rhoj, cfi, cfj, dsi, dri, shk, ssw, ssc, sse, ent, amach, sp0, ad1, ad2, ad3, ad4, ad5, ad6,
    ad7, ad8, ad9, adm, adp, adg, pcw, pcs, pce, pmw, pme, pcn, ppv, pww, pcee, corr, gmr, gmz, gmw,
    adq, rsc;
ContourArray fmw;
ExtraCouplings extraCouplings;
EntropyCouplings entropyCouplings;
GridArray krylov[kMaxKrylov + 2];
ContourArray ffo, fdo, fto;
LineArray ff0, ffn, fd0, fdn, ft0, ftn;
BlockArray bta, btb, btc;
StationVector btg, btr;
ContourArray sp1;
CpArray cpf;
ContourArray qsf, q2f, cps, qq2, ptc, vfx, vdu, vwk;

}  // namespace quarel
