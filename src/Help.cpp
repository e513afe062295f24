#include "Help.h"

#ifndef OMBRA_VERSION
#define OMBRA_VERSION "unknown"
#endif
#ifndef OMBRA_COMMIT
#define OMBRA_COMMIT ""
#endif

namespace ombra {

const char* helpText() {
  return "Ombra: association tests of SNPs pooling family data (pedigrees) and unrelated case-control data,\n"
         "adjusted for principal components of the unrelated individuals.\n"
         "\n"
         "Usage: ombra OPTION VALUE [OPTION VALUE ...]   (every option takes exactly one value)\n"
         "       ombra --help | -h | --version\n"
         "\n"
         "Inputs (at least one data set):\n"
         "  --f PREFIX          text family set: PREFIX.ped and PREFIX.map (or PREFIX.ped.gz, .map.gz)\n"
         "  --i PREFIX          text unrelated (case-control) set, as --f\n"
         "  --bf PREFIX         binary family set: PREFIX.bed/.bim/.fam, a PLINK 1 fileset or Ombra's own\n"
         "                      layout (told from the files; wins over --f)\n"
         "  --bi PREFIX         binary unrelated set, as --bf (wins over --i)\n"
         "  --vf PREFIX         VCF/BCF family set: PREFIX.bcf, .vcf.gz or .vcf, with PREFIX.fam (wins over\n"
         "                      --bf and --f)\n"
         "  --vi PREFIX         VCF/BCF unrelated set, as --vf\n"
         "  --mg CHARACTER      missing-allele code of text sets (default 0)\n"
         "  --mt TEXT           missing-trait code (default 0)\n"
         "  --pheno FILE        phenotype table (header FID IID NAMES...): replaces the sample files' traits\n"
         "  --pheno-name NAME   its column (default: the first after the IDs)\n"
         "\n"
         "Components:\n"
         "  --p N               number of principal components (default 10; lowered when fewer exist)\n"
         "  --op FILE           compute the components, save them to FILE and its eigen loading file, stop\n"
         "  --rp FILE           load the components from FILE instead of computing them (wins over --op)\n"
         "  --snp-list-pca FILE SNP names (one per line) to compute the components from (default: all)\n"
         "  --pca-method M      exact, fast (Gram matrix), approx (randomized block Krylov) or auto\n"
         "                      (default auto: exact while quick, fast while its matrix fits, approx beyond)\n"
         "\n"
         "Test:\n"
         "  --covar FILE        covariate table (header FID IID NAMES...): further columns of the design\n"
         "  --covar-name NAMES  comma-separated covariates to use (default: every column); SEX takes the\n"
         "                      sample files' sex when the table has no such column\n"
         "  --adjustment A      intercept (default: a constant beside the components, missing genotypes at\n"
         "                      the mean dosage) or legacy (earlier versions' results, byte for byte)\n"
         "\n"
         "Selection (applied while loading, in this order; a dropped individual or SNP is as if absent):\n"
         "  --keep FILE         keep only the individuals listed (FID IID per line)\n"
         "  --remove FILE       leave out the individuals listed\n"
         "  --extract FILE      keep only the SNPs listed (one name per line)\n"
         "  --exclude FILE      leave out the SNPs listed\n"
         "  --chr LIST          keep only these chromosomes, for example 1-4,22,X\n"
         "  --from-bp N         with one --chr: the first position kept\n"
         "  --to-bp N           with one --chr: the last position kept\n"
         "  --mind X            leave out individuals missing more than a fraction X of their genotypes\n"
         "  --geno X            leave out SNPs missing more than a fraction X of their genotypes\n"
         "  --hwe P             leave out SNPs whose Hardy-Weinberg exact p (founders and unrelated) is below P\n"
         "  --maf X             leave out SNPs whose minor allele frequency is below X\n"
         "\n"
         "Outputs:\n"
         "  --out FILE          result file (default result.txt); NAME.log beside it logs the run\n"
         "  --out-format F      fixed (default: fixed-width columns, no header) or tsv (tab-separated with a\n"
         "                      header; gzip-compressed when FILE ends in .gz)\n"
         "  --plot PREFIX       Manhattan and QQ plots of the test: PREFIX.manhattan.svg, PREFIX.qq.svg\n"
         "  --plot-stat S       ss, t, t1 or all: the statistics the plots show (default ss)\n"
         "  --recode PREFIX     write the data set (the family set when both are given) as PREFIX.ped/.map\n"
         "  --make-bed PREFIX   write it as Ombra's own binary set PREFIX.bed/.bim/.fam\n"
         "  --make-plink-bed PREFIX  write it as a PLINK 1 fileset PREFIX.bed/.bim/.fam\n"
         "  --additive PREFIX   write its genotype codes as PREFIX.add\n"
         "                      (without --out a recoding run ends after writing)\n"
         "\n"
         "Performance:\n"
         "  --threads N         threads of the decomposition and the test (default: the processor count,\n"
         "                      at most 8); results are the same at every count\n"
         "\n"
         "Every error prints a message on standard output and ends the run with status 1.\n";
}

std::string versionText() {
  std::string text = std::string("Ombra ") + OMBRA_VERSION;
  const std::string commit = OMBRA_COMMIT;
  if (!commit.empty()) text += " (commit " + commit + ")";
  return text + "\n";
}

}  // namespace ombra
